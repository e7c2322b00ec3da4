#pragma once
// SIGTERM (a logout, kill, systemd), SIGHUP (the terminal closed) and SIGINT
// (Ctrl+C) end the program as its quit command does: the window closes and
// keeps its settings, running treatments are left to their chargers without
// the question the quit command asks. The
// signal handler only writes a byte into a pipe; the event loop reads it.

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <memory>

class TQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit TQuitSignals(QObject *parent = nullptr);
    ~TQuitSignals() override;
    TQuitSignals(const TQuitSignals &) = delete;
    TQuitSignals &operator=(const TQuitSignals &) = delete;

signals:
    void QuitRequested();

private:
    static void handle(int);
    static inline volatile sig_atomic_t writeEnd_ = -1;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3] = {};
};
