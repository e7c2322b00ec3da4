#include "treatment/PortSearch.h"

#include "charger/TerminalManager.h"

#include <QMetaObject>

#include <sys/stat.h>

namespace {

// A port without a device answers nothing; it is not worth a thread's turn.
bool deviceExists(const Ohmrida::AsynchSerialInterface &port)
{
    struct stat info {};
    return ::stat(port.DevicePath().c_str(), &info) == 0;
}

} // namespace

void TPortWorker::Identify(int round)
{
    const int type = deviceExists(port_) ? int(Ohmrida::Identify(port_)) : int(Ohmrida::NoDevice);
    emit Identified(round, port_.PortNumber(), type);
}

void TPortWorker::ProbeLogger(int round)
{
    emit LoggerProbed(round, port_.PortNumber(), deviceExists(port_) && Ohmrida::ProbeLogger(port_));
}

TPortSearch::TPortSearch(Ohmrida::TerminalManager &terminals, QObject *parent) : QObject(parent)
{
    for (int i = 0; i < PortCount; ++i) {
        workers_[i] = std::make_unique<TPortWorker>(terminals.Port(i + 1));
        threads_[i].setObjectName(QStringLiteral("COM%1").arg(i + 1));
        workers_[i]->moveToThread(&threads_[i]);
        connect(workers_[i].get(), &TPortWorker::Identified, this, &TPortSearch::identified);
        connect(workers_[i].get(), &TPortWorker::LoggerProbed, this, &TPortSearch::probed);
        threads_[i].start();
    }
}

TPortSearch::~TPortSearch()
{
    // Answers still on their way are dropped with the rounds.
    for (QThread &thread : threads_)
        thread.quit();
    for (QThread &thread : threads_)
        thread.wait();
    rounds_.clear();
}

void TPortSearch::Identify(Answered answered, Done done)
{
    const int round = nextRound_++;
    Round &entry = rounds_[round];
    entry.answered = std::move(answered);
    entry.done = std::move(done);
    for (auto &worker : workers_) {
        TPortWorker *target = worker.get();
        QMetaObject::invokeMethod(target, [target, round] { target->Identify(round); }, Qt::QueuedConnection);
    }
}

void TPortSearch::FindLogger(LoggerFound found)
{
    const int round = nextRound_++;
    rounds_[round].loggerFound = std::move(found);
    for (auto &worker : workers_) {
        TPortWorker *target = worker.get();
        QMetaObject::invokeMethod(target, [target, round] { target->ProbeLogger(round); }, Qt::QueuedConnection);
    }
}

void TPortSearch::identified(int round, int port, int deviceType)
{
    const auto found = rounds_.find(round);
    if (found == rounds_.end())
        return;
    // Copies: a callback may start another round, which may move the map's entries.
    const Answered answered = found->second.answered;
    const bool last = --found->second.open == 0;
    const Done done = last ? found->second.done : Done();
    if (last)
        rounds_.erase(found);
    if (answered)
        answered(port, deviceType);
    if (done)
        done();
}

void TPortSearch::probed(int round, int port, bool answered)
{
    const auto found = rounds_.find(round);
    if (found == rounds_.end())
        return;
    Round &entry = found->second;
    if (answered && (entry.logger == 0 || port < entry.logger))
        entry.logger = port;
    if (--entry.open > 0)
        return;
    const LoggerFound report = entry.loggerFound;
    const int logger = entry.logger;
    rounds_.erase(found);
    if (report)
        report(logger);
}
