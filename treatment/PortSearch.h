#pragma once
// The search of COM1..COM9 for chargers and for the logger, all ports at once:
// one worker object per port, each on a thread of its own, asks its port and
// answers with a value (the port's number and what answered there). The
// searcher lives on the engine thread, which alone files the answers in the
// terminal registry; the workers only use the port objects, which the
// registry owns and which keep overlapping exchanges apart themselves.
// Silent ports so cost one time-out together instead of one each, and the
// engine thread goes on polling meanwhile.

#include <QObject>
#include <QThread>

#include <array>
#include <functional>
#include <map>
#include <memory>

namespace Ohmrida {
class AsynchSerialInterface;
class TerminalManager;
}

// Asks one port; lives on its own thread.
class TPortWorker : public QObject {
    Q_OBJECT
public:
    explicit TPortWorker(Ohmrida::AsynchSerialInterface &port) : port_(port) {}

    // Requests, queued from the engine thread.
    void Identify(int round);
    void ProbeLogger(int round);

signals:
    // The device type on the port (Ohmrida::NoDevice when none answered).
    void Identified(int round, int port, int deviceType);
    void LoggerProbed(int round, int port, bool answered);

private:
    Ohmrida::AsynchSerialInterface &port_;
};

class TPortSearch : public QObject {
    Q_OBJECT
public:
    static constexpr int PortCount = 9;

    // Answered: one port's answer, on the engine thread, as it arrives.
    using Answered = std::function<void(int port, int deviceType)>;
    using Done = std::function<void()>;
    using LoggerFound = std::function<void(int port)>;   // 0: no logger

    // The workers use the registry's port objects; the registry outlives this.
    explicit TPortSearch(Ohmrida::TerminalManager &terminals, QObject *parent = nullptr);
    // Waits for exchanges under way, then ends the workers' threads.
    ~TPortSearch() override;

    // Asks every port which charger answers; answered for each port (in the
    // order the answers come), then done.
    void Identify(Answered answered, Done done);
    // Probes every port for the logger; found with the lowest port that
    // answered, once all have.
    void FindLogger(LoggerFound found);

private:
    struct Round {
        int open = PortCount;
        Answered answered;
        Done done;
        LoggerFound loggerFound;
        int logger = 0;
    };
    void identified(int round, int port, int deviceType);
    void probed(int round, int port, bool answered);

    std::array<QThread, PortCount> threads_;
    std::array<std::unique_ptr<TPortWorker>, PortCount> workers_;
    std::map<int, Round> rounds_;
    int nextRound_ = 1;
};
