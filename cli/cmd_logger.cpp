// braskon-cli logger: reads the Kestrix recording into the database as a new
// treatment of the given battery, with the readout of the treatment engine
// the main window uses and a progress bar on standard error. Ctrl+C cancels
// like "Abbrechen": what was read so far stays.

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Interrupts.h"

#include "database/Datamodule.h"
#include "database/SqlStore.h"
#include "database/Texts.h"
#include "treatment/TreatmentEngine.h"

#include <QEventLoop>

#include <exception>

namespace {

const char *const usageText = "Aufruf: braskon-cli logger --battery ID [--min-delta-u MV]";

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
    const QCommandLineOption batteryOption(QStringLiteral("battery"), QString(), QStringLiteral("ID"));
    const QCommandLineOption minDeltaUOption(QStringLiteral("min-delta-u"), QString(), QStringLiteral("MV"));
    Cli::Arguments arguments({batteryOption, minDeltaUOption});
    const Cli::Arguments::Outcome read = arguments.Read(args);
    if (read == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    const int batteryID = WholeNumber(arguments.Value(batteryOption)).value_or(0);
    // Without --min-delta-u the engine's own threshold.
    const bool deltaGiven = arguments.IsSet(minDeltaUOption);
    const int minDeltaU = WholeNumber(arguments.Value(minDeltaUOption)).value_or(-1);
    if (read == Cli::Arguments::Outcome::Wrong || batteryID <= 0 || (deltaGiven && minDeltaU < 0)) {
        context.err << usageText << Qt::endl;
        return 2;
    }

    try {
        const auto store = std::make_shared<SqlStore>(context.Database());
        BatteryRecord battery;
        battery.ID = batteryID;
        if (!RecordReader(store).LoadBattery(battery)) {
            context.err << "braskon-cli logger: Akku " << batteryID << " gibt es nicht" << Qt::endl;
            return 1;
        }

        TTreatmentEngine engine(store, std::string());
        if (deltaGiven)
            engine.SetSamplingThresholds(minDeltaU, 1);
        QEventLoop loop;
        bool progressShown = false;
        LoggerOutcome outcome;
        QObject::connect(&engine, &TTreatmentEngine::LoggerInfo, &loop, [&](int message, const QString &text) {
            if (progressShown)
                context.err << '\n';
            progressShown = false;
            context.err << text << Qt::endl;
            // No one is there to read the message and press "Abbrechen".
            if (message != TKestrixReadout::MsgInitializing)
                engine.CancelLogger();
        });
        QObject::connect(&engine, &TTreatmentEngine::LoggerProgress, &loop, [&](int maximum, int position) {
            progressShown = true;
            context.err << progressBar(maximum, position);
            context.err.flush();
        });
        QObject::connect(&engine, &TTreatmentEngine::LoggerFinished, &loop, [&](const LoggerOutcome &finished) {
            outcome = finished;
            loop.quit();
        });
        Cli::Interrupts interrupts;
        QObject::connect(&interrupts, &Cli::Interrupts::Interrupted, &loop, [&] { engine.CancelLogger(); });

        engine.ReadLogger(battery);
        loop.exec();
        if (progressShown)
            context.err << '\n';

        if (outcome.Message == TKestrixReadout::MsgFailed)
            context.err << outcome.Error << Qt::endl;
        for (const QString &value : outcome.Skipped)
            context.err << "ausgelassen: " << value << '\n';
        if (!outcome.Skipped.isEmpty())
            context.err << outcome.Skipped.size() << " unverst\u00e4ndliche Werte ausgelassen" << Qt::endl;
        if (outcome.Message == TKestrixReadout::MsgReadFailed || outcome.Message == TKestrixReadout::MsgGarbled) {
            // What was read is stored; the exit status says it is not all.
            context.out << "Aufzeichnung " << outcome.ServiceID << ": " << outcome.Position << " von "
                        << outcome.Maximum << " Werten (fehlgeschlagen)" << Qt::endl;
            return 1;
        }
        if (outcome.Result != TKestrixReadout::ResultOK || outcome.Message == TKestrixReadout::MsgFailed)
            return 1;
        context.out << "Aufzeichnung " << outcome.ServiceID << ": " << outcome.Position << " von " << outcome.Maximum
                    << " Werten" << (outcome.Position < outcome.Maximum ? " (abgebrochen)" : "") << Qt::endl;
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
