#include "cli/Interrupts.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace Cli {

namespace {

volatile sig_atomic_t writeEnd = -1;

} // namespace

void Interrupts::handle(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0)
        (void)!::write(writeEnd, &byte, 1);
}

Interrupts::Interrupts()
{
    if (::pipe(fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    writeEnd = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Interrupts::received);
    struct sigaction action = {};
    action.sa_handler = &Interrupts::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previousInt_);
    ::sigaction(SIGTERM, &action, &previousTerm_);
}

Interrupts::~Interrupts()
{
    if (fds_[0] < 0)
        return;
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    writeEnd = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void Interrupts::received()
{
    unsigned char byte = 0;
    if (::read(fds_[0], &byte, 1) != 1)
        return;
    ++count_;
    last_ = byte;
    emit Interrupted(last_, count_);
}

} // namespace Cli
