#include "app/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

namespace {
const int quitSignals[] = {SIGTERM, SIGHUP, SIGINT};
}

TQuitSignals::TQuitSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd_ = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(fds_[0], bytes, sizeof bytes) > 0) {
        }
        emit QuitRequested();
    });
    struct sigaction action = {};
    action.sa_handler = &TQuitSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(quitSignals[i], &action, &previous_[i]);
}

TQuitSignals::~TQuitSignals()
{
    if (fds_[0] < 0)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(quitSignals[i], &previous_[i], nullptr);
    writeEnd_ = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TQuitSignals::handle(int)
{
    const char byte = 1;
    if (writeEnd_ >= 0)
        (void)!::write(writeEnd_, &byte, 1);
}
