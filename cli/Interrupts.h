#pragma once
// Ctrl+C and SIGTERM for a command that runs an event loop: the signal
// handler only writes one byte into a pipe, and the loop hears it through a
// socket notifier (Interrupted), with how many signals came so far. The
// previous handlers come back with the object's end.

#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

namespace Cli {

class Interrupts : public QObject {
    Q_OBJECT
public:
    Interrupts();
    ~Interrupts() override;
    Interrupts(const Interrupts &) = delete;
    Interrupts &operator=(const Interrupts &) = delete;

    int Count() const { return count_; }
    int LastSignal() const { return last_; }

signals:
    void Interrupted(int signalNumber, int count);

private:
    void received();
    static void handle(int signalNumber);

    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousInt_ = {};
    struct sigaction previousTerm_ = {};
    int count_ = 0;
    int last_ = 0;
};

} // namespace Cli
