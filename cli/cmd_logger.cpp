// braskon-cli logger: reads the Kestrix recording into the database as a new
// treatment of the given battery, with the readout thread of the main window
// and a progress bar on standard error. Ctrl+C cancels like "Abbrechen": what
// was read so far stays.

#include "Command.h"

#include "ReadKestrixThread.h"
#include "TerminalManager.h"
#include "database/Datamodule.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <csignal>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const usageText = "Aufruf: braskon-cli logger --battery ID [--min-delta-u MV]";

// Ctrl+C reaches the event loop through a pipe: the signal handler only
// writes one byte, the loop reads it and asks the thread to stop.
class InterruptPipe {
public:
    InterruptPipe()
    {
        if (::pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
        ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);
        writeEnd_ = fds_[1];
        struct sigaction action = {};
        action.sa_handler = &InterruptPipe::handle;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previous_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~InterruptPipe()
    {
        if (fds_[0] < 0)
            return;
        ::sigaction(SIGINT, &previous_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
        writeEnd_ = -1;
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int ReadEnd() const { return fds_[0]; }

private:
    static void handle(int)
    {
        const char byte = 1;
        if (writeEnd_ >= 0)
            (void)!::write(writeEnd_, &byte, 1);
    }
    static inline volatile sig_atomic_t writeEnd_ = -1;
    int fds_[2] = {-1, -1};
    struct sigaction previous_ = {};
    struct sigaction previousTerm_ = {};
};

QString progressBar(int maximum, int position)
{
    constexpr int width = 40;
    const int filled = maximum > 0 ? int(qint64(width) * position / maximum) : 0;
    return QStringLiteral("\r[%1%2] %3/%4")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
        .arg(position)
        .arg(maximum);
}

int loggerCommand(const QStringList &args, Cli::Context &context)
{
    int batteryID = 0;
    int minDeltaU = -1;
    for (int i = 0; i < args.size(); ++i) {
        bool ok = false;
        if (args[i] == QLatin1String("--battery") && i + 1 < args.size()) {
            batteryID = args[++i].toInt(&ok);
        } else if (args[i] == QLatin1String("--min-delta-u") && i + 1 < args.size()) {
            minDeltaU = args[++i].toInt(&ok);
            ok = ok && minDeltaU >= 0;
        }
        if (!ok) {
            context.err << usageText << Qt::endl;
            return 2;
        }
    }
    if (batteryID <= 0) {
        context.err << usageText << Qt::endl;
        return 2;
    }

    try {
        TBRASKDataModule data(context.databaseDir.isEmpty() ? TBRASKDataModule::DefaultDatabaseDirectory()
                                                            : context.databaseDir);
        data.ReopenBatteries(batteryID);
        if (data.SelectedBatteryID() != batteryID) {
            context.err << "braskon-cli logger: Akku " << batteryID << " gibt es nicht" << Qt::endl;
            return 1;
        }
        if (minDeltaU >= 0)
            data.SetMinDeltaU(minDeltaU);

        Ohmrida::TerminalManager terminals;
        TReadKestrixThread thread(terminals, data);
        QEventLoop loop;
        bool progressShown = false;
        QObject::connect(&thread, &TReadKestrixThread::ShowInfo, &loop, [&](int messageIndex) {
            if (progressShown)
                context.err << '\n';
            progressShown = false;
            context.err << TReadKestrixThread::MessageText(messageIndex, thread.ProgressPosition(),
                                                           thread.ProgressMax())
                        << Qt::endl;
            // No one is there to read the message and press "Abbrechen".
            if (messageIndex != TReadKestrixThread::MsgInitializing)
                thread.RequestTermination();
        });
        QObject::connect(&thread, &TReadKestrixThread::ShowProgress, &loop, [&](int maximum, int position) {
            progressShown = true;
            context.err << progressBar(maximum, position);
            context.err.flush();
        });
        QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);

        InterruptPipe interrupt;
        QSocketNotifier interrupted(interrupt.ReadEnd(), QSocketNotifier::Read);
        QObject::connect(&interrupted, &QSocketNotifier::activated, &loop, [&] {
            char byte;
            (void)!::read(interrupt.ReadEnd(), &byte, 1);
            thread.RequestTermination();
        });

        thread.start();
        loop.exec();
        thread.wait();
        // Display updates still queued behind the end.
        QCoreApplication::sendPostedEvents(&loop);
        if (progressShown)
            context.err << '\n';

        if (thread.MessageIndex() == TReadKestrixThread::MsgFailed)
            context.err << thread.ErrorText() << Qt::endl;
        if (thread.MessageIndex() == TReadKestrixThread::MsgReadFailed) {
            // What was read is stored; the exit status says it is not all.
            context.out << "Aufzeichnung " << thread.ServiceID() << ": " << thread.ProgressPosition() << " von "
                        << thread.ProgressMax() << " Werten (fehlgeschlagen)" << Qt::endl;
            return 1;
        }
        if (thread.ResultCode() != TReadKestrixThread::ResultOK
            || thread.MessageIndex() == TReadKestrixThread::MsgFailed)
            return 1;
        context.out << "Aufzeichnung " << thread.ServiceID() << ": " << thread.ProgressPosition() << " von "
                    << thread.ProgressMax() << " Werten"
                    << (thread.ProgressPosition() < thread.ProgressMax() ? " (abgebrochen)" : "") << Qt::endl;
        return 0;
    } catch (const std::exception &error) {
        context.err << "braskon-cli logger: " << QString::fromStdString(error.what()) << Qt::endl;
        return 1;
    }
}

static const Cli::CommandRegistration registration(
    "logger", "logger --battery ID [--min-delta-u MV]\n"
    "                       die Aufzeichnung des Kestrix als neue Aufzeichnung des Akkus einlesen",
    loggerCommand);

} // namespace
