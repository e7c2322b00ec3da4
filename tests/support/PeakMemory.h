#pragma once
// The process's peak resident memory, as the kernel counts it, for the
// benchmarks that show memory does not grow with a recording.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace PeakMemory {

// The peak since the start or the last Reset, in KB (0 where unknown).
inline long Kb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// Starts the peak again from what the process holds now.
inline void Reset()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace PeakMemory
