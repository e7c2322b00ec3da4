#pragma once
// Who records a running treatment: this machine's name, a process id and an
// identity that tells a live process from a later one that got the same id
// (the boot and the process's start time), and whether such an owner is gone.

#include <QString>

#include <cstdint>

namespace OwnerProcess {

// A heartbeat older than this means the owner on another machine is gone.
constexpr int64_t StaleSeconds = 600;

QString HostName();   // BRASKON_HOST, else the machine's name
int64_t CurrentPid();
// "<boot id>:<start time>" of a process on this machine, empty when it is gone.
QString Identity(int64_t pid);
QString CurrentIdentity();
int64_t Now();   // seconds since the epoch

// Whether the recorder described is still there: on this machine its process
// must exist with the same identity; on another machine its heartbeat must be
// fresh.
bool Alive(const QString &host, int64_t pid, const QString &identity, int64_t heartbeat);

} // namespace OwnerProcess
