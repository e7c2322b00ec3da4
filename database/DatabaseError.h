#pragma once
#include <QString>
#include <stdexcept>

// Every failure of the database (cannot open, missing table or column, damaged
// file, duplicate key, missing ID counter, engine error). what() is a clear
// message in German that names what went wrong.
class DatabaseError : public std::runtime_error {
public:
    explicit DatabaseError(const QString &message)
        : std::runtime_error(message.toStdString()), text_(message) {}
    const QString &message() const { return text_; }

private:
    QString text_;
};

// The database file is held locked by another program (past the busy
// time-out). Nothing was changed; trying again later may succeed.
class DatabaseBusyError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// The connection to the database server broke (server stopped, network gone)
// or the server cannot be reached. Nothing of the failed operation was
// stored; the store connects again by itself on a later call.
class DatabaseConnectionError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// A row with that key is there already (another program may have stored it
// a moment ago). Nothing was changed; the caller says which record it was.
class DuplicateKeyError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};
