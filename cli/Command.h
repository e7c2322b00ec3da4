#pragma once
// A braskon-cli sub-command. Each cmd_*.cpp registers its commands with a
// static CommandRegistration, so commands are added without touching main.cpp.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace Cli {

struct Context {
    QString databaseDir;   // --database DIR, empty: the program's default location
    QTextStream &out;      // standard output
    QTextStream &err;      // standard error
    QString usage;         // the command's lines of --help

    // The database this call works on: --database, else the program's default.
    QString Database() const;
};

// The whole number an option was given, within minimum..maximum; nothing,
// and in `error` the German reason, for anything else.
std::optional<int> OptionNumber(const QString &text, const QString &option, int minimum, int maximum,
                                QString &error);

// Returns the process exit status.
using CommandFunction = int (*)(const QStringList &args, Context &context);

struct CommandRegistration {
    CommandRegistration(const char *name, const char *usage, CommandFunction function);
};

struct CommandInfo {
    QString name;
    QString usage;
    CommandFunction function;
};

const QList<CommandInfo> &registeredCommands();

} // namespace Cli
