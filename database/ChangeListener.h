#pragma once
// Hears what other PCs change in a lab database on a PostgreSQL server: the
// tables carry triggers that NOTIFY the channel PostgresDialect::ChangeChannel()
// with the table's name, and this listener keeps a connection of its own that
// LISTENs there on the thread that created it (its event loop delivers the
// notifications). Bursts are gathered into one report. A connection that
// broke is made again within seconds, and then every table counts as changed,
// because what happened meanwhile was not heard.

#include <QObject>
#include <QSet>
#include <QSqlDriver>
#include <QString>
#include <QStringList>
#include <QTimer>

class SqlStore;

class ChangeListener : public QObject {
    Q_OBJECT
public:
    static constexpr int GatherMs = 250;
    static constexpr int WatchMs = 3000;

    explicit ChangeListener(const SqlStore &store, QObject *parent = nullptr);
    ~ChangeListener() override;

    bool listening() const { return listening_; }

signals:
    // Tables ("batteries", "services", "sub", "samples") that changed.
    void tablesChanged(const QStringList &tables);

private:
    void connectAndListen();
    void received(const QString &channel, QSqlDriver::NotificationSource source, const QVariant &payload);
    void watch();

    const SqlStore &store_;
    QString name_;
    bool listening_ = false;
    QSet<QString> pending_;
    QTimer gather_;
    QTimer watch_;
};
