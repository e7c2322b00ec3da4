#include "database/OwnerProcess.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace OwnerProcess {

namespace {

QString BootID()
{
    static const QString boot = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed() : QString();
    }();
    return boot;
}

} // namespace

QString HostName()
{
    // BRASKON_HOST names the station when several share one machine (a
    // terminal server, the tests); its terminals are then its own.
    const QString station = qEnvironmentVariable("BRASKON_HOST");
    return station.isEmpty() ? QSysInfo::machineHostName() : station;
}

int64_t CurrentPid()
{
    return static_cast<int64_t>(::getpid());
}

QString Identity(int64_t pid)
{
    if (pid <= 0)
        return {};
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // The name in parentheses may hold blanks; the fields after it are plain.
    const QByteArray text = stat.readAll();
    const auto close = text.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // Field 22 of the line (start time in clock ticks) is the 20th after the name.
    if (fields.size() < 20)
        return {};
    // A zombie has ended; only its parent has not collected it yet.
    if (fields[0] == "Z" || fields[0] == "X")
        return {};
    return BootID() + QLatin1Char(':') + QString::fromLatin1(fields[19]);
}

QString CurrentIdentity()
{
    static const QString own = Identity(CurrentPid());
    return own;
}

int64_t Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool Alive(const QString &host, int64_t pid, const QString &identity, int64_t heartbeat)
{
    if (host != HostName())
        return Now() - heartbeat < StaleSeconds;
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return false;
    // The id may have been given to another process since (after a reboot, say).
    const QString now = Identity(pid);
    return !now.isEmpty() && (identity.isEmpty() || now == identity);
}

} // namespace OwnerProcess
