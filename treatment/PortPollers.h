#pragma once
// The poll threads of the engine: one per serial port that has treatments,
// made when the port first gets one. Work given to a port runs on its
// thread, one piece after another, so the ports are polled side by side
// while each port's treatments are asked in turn; what the work leaves is
// handed back on the thread of this object (the engine's).

#include <QObject>
#include <QThread>

#include <functional>
#include <map>
#include <memory>

class TPortPollers : public QObject {
    Q_OBJECT
public:
    explicit TPortPollers(QObject *parent = nullptr) : QObject(parent) {}
    // Waits for work under way, then ends the threads; its done is dropped.
    ~TPortPollers() override;

    // Runs work on the port's thread, then done on this object's thread.
    void Run(int port, std::function<void()> work, std::function<void()> done);
    // Whether work given to the port is not done yet.
    bool Busy(int port) const;
    int BusyCount() const;

private:
    struct Lane {
        QThread thread;
        std::unique_ptr<QObject> context;   // lives on the thread: the target of the work
        bool busy = false;
    };
    Lane &lane(int port);

    std::map<int, std::unique_ptr<Lane>> lanes_;
};
