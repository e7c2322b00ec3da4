// braskon-cli run: runs one treatment on a charger terminal until it ends,
// through the same treatment engine as the main window, ticked from this
// command's event loop.
//
//   run --battery ID --terminal NAME (--program 1..5 --charge MA --discharge MA
//       | --step L|E:MA[:LIMIT_S] ...) [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]
//   run --resume SERVICE_ID [--stop] [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]
//   ... [--on-end COMMAND]
//
// --on-end runs COMMAND with the shell once the treatment has ended (also by
// a signal), before the program exits, with the treatment's facts in
// BRASKON_* variables (TTreatmentNotices); its own failure is reported but
// does not change the exit status, which tells the treatment's result.
// Ctrl+C or SIGTERM stops the treatment as the stop command does (terminal
// stopped, running step "abgebrochen", all records kept) and exits 128+signal.
// A terminal that another process runs a treatment on is refused before any
// port is searched. --resume takes up a treatment whose recorder was killed,
// if its charger still runs it (else its open steps become "abgebrochen");
// with --stop it stops the charger instead and closes the treatment.
// Every poll line is printed after its sample and step rows are committed.
// While the database cannot be written (locked by another program, disk full)
// the polls go on: a line says so once, each poll line then ends with
// "(nicht gespeichert, N warten)", and a line says when the waiting records
// were written. A stop whose records cannot be written keeps trying until they
// are, or until a second Ctrl+C gives them up.

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Interrupts.h"

#include "charger/Terminal.h"
#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "database/MainCommands.h"
#include "database/SqlStore.h"
#include "treatment/Resume.h"
#include "treatment/TreatmentEngine.h"
#include "treatment/TreatmentNotices.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct RunOptions {
    int batteryID = 0;
    std::string terminal;
    int program = 0;   // 0: user steps
    int charge = 0;
    int discharge = 0;
    std::vector<UserStep> steps;
    int tickMs = 10000;
    int resume = 0;   // the treatment to take up, 0: start a new one
    bool stop = false;   // with resume: stop its charger and close it
    std::optional<int> minDeltaU, minDeltaI;
    QString terminalShown;   // the terminal's name in messages
    QString onEnd;           // shell command run at the end
};

const char *const Usage =
    "Aufruf: braskon-cli run --battery ID --terminal NAME\n"
    "         (--program 1..5 --charge MA --discharge MA | --step L|E:MA[:LIMIT_S] ...)\n"
    "         [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA] [--on-end BEFEHL]\n"
    "       braskon-cli run --resume SERVICE_ID [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]\n"
    "         [--on-end BEFEHL]\n"
    "       braskon-cli run --resume SERVICE_ID --stop";

class OptionError {
public:
    explicit OptionError(QString text) : text_(std::move(text)) {}
    const QString &Text() const { return text_; }

private:
    QString text_;
};

int Number(const QString &text, const QString &option, int minimum, int maximum)
{
    QString error;
    const std::optional<int> value = Cli::OptionNumber(text, option, minimum, maximum, error);
    if (!value)
        throw OptionError(error);
    return *value;
}

// "L:100:600", "E:50" -> one step, checked like a row of the dialog's grid.
UserStep ParseStep(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        throw OptionError(QStringLiteral("--step \"%1\" hat nicht die Form L|E:MA[:LIMIT_S]").arg(text));
    try {
        const std::vector<UserStep> steps =
            ParseUserSteps({{parts[0], parts[1], parts.size() == 3 ? parts[2] : QString()}});
        if (steps.size() != 1)
            throw OptionError(QStringLiteral("--step \"%1\" hat keine Funktion oder keinen Strom").arg(text));
        return steps.front();
    } catch (const UserStepError &error) {
        throw OptionError(QStringLiteral("--step \"%1\": %2").arg(text, QString::fromUtf8(error.what())));
    }
}

// The options of a run; OptionError for a call that cannot be carried out.
// std::nullopt when --help asked for the command's help.
std::optional<RunOptions> ParseOptions(const QStringList &args)
{
    const auto valued = [](const char *name, const char *value) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromUtf8(value));
    };
    const QCommandLineOption battery = valued("battery", "ID"), terminal = valued("terminal", "NAME"),
                             program = valued("program", "1..5"), charge = valued("charge", "MA"),
                             discharge = valued("discharge", "MA"), step = valued("step", "L|E:MA[:LIMIT_S]"),
                             resume = valued("resume", "SERVICE_ID"), tickMs = valued("tick-ms", "MS"),
                             minDeltaU = valued("min-delta-u", "MV"), minDeltaI = valued("min-delta-i", "MA"),
                             onEnd = valued("on-end", "BEFEHL"), stop(QStringLiteral("stop"));
    Cli::Arguments arguments({battery, terminal, program, charge, discharge, step, resume, tickMs, minDeltaU,
                              minDeltaI, onEnd, stop});
    switch (arguments.Read(args)) {
    case Cli::Arguments::Outcome::Help:
        return std::nullopt;
    case Cli::Arguments::Outcome::Wrong:
        throw OptionError(arguments.MissingValue() ? QStringLiteral("%1 ohne Wert").arg(arguments.Wrong())
                                                   : QStringLiteral("unbekannte Angabe %1").arg(arguments.Wrong()));
    case Cli::Arguments::Outcome::Read:
        break;
    }
    const auto number = [&arguments](const QCommandLineOption &option, int minimum, int maximum) {
        return Number(arguments.Value(option), QStringLiteral("--") + option.names().first(), minimum, maximum);
    };
    RunOptions options;
    const bool hasBattery = arguments.IsSet(battery), hasCharge = arguments.IsSet(charge),
               hasDischarge = arguments.IsSet(discharge);
    options.stop = arguments.IsSet(stop);
    if (hasBattery)
        options.batteryID = number(battery, 1, 2147483647);
    options.terminal = arguments.Value(terminal).toStdString();
    if (arguments.IsSet(program))
        options.program = number(program, 1, 5);
    if (hasCharge)
        options.charge = number(charge, 1, 65535);
    if (hasDischarge)
        options.discharge = number(discharge, 1, 65535);
    for (const QString &text : arguments.Values(step))
        options.steps.push_back(ParseStep(text));
    if (arguments.IsSet(resume))
        options.resume = number(resume, 1, 2147483647);
    if (arguments.IsSet(tickMs))
        options.tickMs = number(tickMs, 50, 3600000);
    // Taken as the options dialog takes them: the magnitude of what was typed.
    if (arguments.IsSet(minDeltaU))
        options.minDeltaU = MainCommands::Magnitude(number(minDeltaU, -1000000, 1000000));
    if (arguments.IsSet(minDeltaI))
        options.minDeltaI = MainCommands::Magnitude(number(minDeltaI, -1000000, 1000000));
    if (arguments.IsSet(onEnd)) {
        options.onEnd = arguments.Value(onEnd);
        if (options.onEnd.trimmed().isEmpty())
            throw OptionError(QStringLiteral("--on-end ohne Befehl"));
    }
    if (options.stop && options.resume == 0)
        throw OptionError(QStringLiteral("--stop gilt nur mit --resume"));
    if (options.resume != 0) {
        if (hasBattery || !options.terminal.empty() || options.program != 0 || !options.steps.empty())
            throw OptionError(QStringLiteral("--resume nimmt Akku, Terminal und Programm aus der Datenbank"));
        return options;
    }
    if (!hasBattery)
        throw OptionError(QStringLiteral("--battery fehlt"));
    if (options.terminal.empty())
        throw OptionError(QStringLiteral("--terminal fehlt"));
    if ((options.program != 0) == !options.steps.empty())
        throw OptionError(QStringLiteral("entweder --program oder --step angeben"));
    if (options.steps.size() > static_cast<size_t>(Service::MaxUserSteps))
        throw OptionError(QStringLiteral("höchstens %1 --step").arg(Service::MaxUserSteps));
    if (options.program != 0 && (!hasCharge || !hasDischarge))
        throw OptionError(QStringLiteral("--program braucht --charge und --discharge"));
    return options;
}


// Prints every step whose state differs from what was printed last.
class StepPrinter {
public:
    explicit StepPrinter(QTextStream &out) : out_(out) {}

    void Print(const QVector<StepRecord> &steps)
    {
        printed_.resize(static_cast<size_t>(steps.size()), -1);
        for (int i = 0; i < steps.size(); ++i) {
            const StepRecord &step = steps[i];
            if (printed_[static_cast<size_t>(i)] == step.State)
                continue;
            printed_[static_cast<size_t>(i)] = step.State;
            out_ << "Schritt " << step.Step << ' ' << FunctionName(step.Function) << ' ' << step.Parameter
                 << " mA: " << StateName(step.State);
            if (step.State == Fehler || step.State == OK || step.State == Abgebrochen)
                out_ << " (Dauer " << DurationText(step.Duration) << ", " << step.Capacity << " mAh)";
            out_ << '\n';
        }
        out_.flush();
    }

private:
    QTextStream &out_;
    std::vector<int> printed_;
};

// One answered poll; its records are stored unless it says how many wait.
void PrintPoll(QTextStream &out, const PollReport &poll)
{
    const int step = std::min(poll.CurrentStep, int(poll.Steps.size()) - 1) + 1;
    out << "Schritt " << step << "  Zeit " << DurationText(poll.StepTime) << "  "
        << QString::number(poll.Voltage * 0.001, 'f', 3) << " V  " << QString::number(poll.Current * 0.001, 'f', 3)
        << " A  " << poll.Capacity << " mAh  " << FunctionName(poll.Function);
    if (poll.Waiting > 0)
        out << "  (nicht gespeichert, " << poll.Write.WaitingSamples << " warten)";
    out << '\n';
    out.flush();
}

// Says once when writing starts failing and once when it works again.
class WritePrinter {
public:
    explicit WritePrinter(QTextStream &out) : out_(out) {}

    void Print(const WriteStatus &status)
    {
        if (status.Failing && !failing_) {
            failing_ = true;
            out_ << "Speichern fehlgeschlagen: " << status.Reason
                 << " \u2013 die Messwerte werden aufbewahrt und nachgetragen" << Qt::endl;
        } else if (!status.Failing && failing_) {
            failing_ = false;
            out_ << "Speichern wieder m\u00f6glich: " << RecordsText(status.RecoveredSamples, status.RecoveredSteps)
                 << " nachgetragen";
            if (status.DroppedSamples > 0)
                out_ << ", " << status.DroppedSamples << " Messwerte verworfen";
            out_ << Qt::endl;
        }
    }

private:
    QTextStream &out_;
    bool failing_ = false;
};

bool AllStepsOK(const QVector<StepRecord> &steps)
{
    return std::all_of(steps.begin(), steps.end(), [](const StepRecord &step) { return step.State == OK; });
}

// One treatment through the engine, from its start (or resume) to its end or
// to the stop a signal asks for; the event loop ends with the exit status.
class RunSession : public QObject {
public:
    RunSession(TTreatmentEngine &engine, RecordReader &reader, const RunOptions &options, Cli::Context &context,
               QEventLoop &loop)
        : engine_(engine), reader_(reader), options_(options), context_(context), loop_(loop), steps_(context.out),
          writes_(context.out)
    {
        connect(&engine_, &TTreatmentEngine::TreatmentStarted, this, &RunSession::started);
        connect(&engine_, &TTreatmentEngine::CommandFailed, this, &RunSession::failed);
        connect(&engine_, &TTreatmentEngine::ResumeFinished, this, &RunSession::resumeFinished);
        connect(&engine_, &TTreatmentEngine::Polled, this, &RunSession::polled);
        connect(&engine_, &TTreatmentEngine::TreatmentStopped, this, [this](int ticket) {
            if (ticket == ticket_)
                stopped_ = true;
        });
        connect(&engine_, &TTreatmentEngine::TreatmentsChanged, this, &RunSession::afterRequest);
        connect(&interrupts_, &Cli::Interrupts::Interrupted, this, &RunSession::interrupted);
        notices_.Follow(engine_);
        connect(&notices_, &TTreatmentNotices::Noticed, this, [this](const TreatmentNotice &notice) {
            if (notice.What == TreatmentNotice::Ended && notice.ServiceID == serviceID_ && serviceID_ != 0)
                end_ = notice;
        });
        ticker_.setSingleShot(true);
        connect(&ticker_, &QTimer::timeout, this, [this] { engine_.Tick(); });
    }

    void Start(const std::string &terminal, int batteryID)
    {
        if (options_.resume != 0 && options_.stop)
            engine_.StopInterrupted(options_.resume, terminal);
        else if (options_.resume != 0)
            ticket_ = engine_.Resume(options_.resume, batteryID, terminal);
        else if (options_.program != 0)
            ticket_ = engine_.StartStandard(options_.batteryID, options_.program, options_.charge, options_.discharge,
                                            options_.terminal);
        else
            ticket_ = engine_.StartUser(options_.batteryID, options_.steps, options_.terminal);
    }

private:
    void finish(int status)
    {
        ticker_.stop();
        runEndCommand();
        loop_.exit(status);
    }

    // The user's command for the end, waited for: it may still read the
    // records, and a script must not find the program gone half-way.
    void runEndCommand()
    {
        if (options_.onEnd.isEmpty() || end_.ServiceID == 0)
            return;
        QProcess *process = TTreatmentNotices::EndProcess(options_.onEnd, end_, this);
        end_ = TreatmentNotice();
        process->start();
        if (!process->waitForStarted() || !process->waitForFinished(-1)) {
            context_.err << "braskon-cli run: der Befehl von --on-end lief nicht: " << process->errorString()
                         << Qt::endl;
        } else if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) {
            context_.err << "braskon-cli run: der Befehl von --on-end endete mit Status " << process->exitCode()
                         << Qt::endl;
        }
        delete process;
    }

    void started(const TreatmentSetup &setup)
    {
        if (setup.Ticket != ticket_)
            return;
        serviceID_ = setup.ServiceID;
        context_.out << "Behandlung " << setup.ServiceID << (setup.Resumed ? " fortgesetzt" : "") << ": "
                     << setup.Caption << ", Programm " << ProgramName(setup.Program) << '\n';
        steps_.Print(setup.Steps);
        lastSteps_ = setup.Steps;
        if (interrupts_.Count() > 0) {
            stop();
            return;
        }
        ticking_ = true;
    }

    void failed(const QString &reason)
    {
        if (stopping_) {
            // The stop could not write the records: they are kept and tried
            // again every tick, until they are in or another signal gives them up.
            stopFailure_ = reason;
            return;
        }
        if (serviceID_ == 0) {
            context_.err << "braskon-cli run: " << reason << Qt::endl;
            finish(1);
        }
    }

    void resumeFinished(int serviceID, bool resumed, const QString &text)
    {
        if (resumed || serviceID != options_.resume)
            return;
        if (engine_.HasService(serviceID))
            return;
        // Still registered: not resumable or not stopped (still recorded,
        // terminal busy, silent, the stop refused), nothing changed. Else it
        // is closed, and the text says why and what became of its charger.
        RunningTreatment row;
        row.ServiceID = serviceID;
        const bool closed = !reader_.FindRunning(row);
        if (closed)
            context_.out << text << Qt::endl;
        else
            context_.err << "braskon-cli run: " << text << Qt::endl;
        finish(closed && options_.stop ? 0 : 1);
    }

    void polled(const PollReport &poll)
    {
        if (poll.ServiceID != serviceID_ || serviceID_ == 0)
            return;
        lastSteps_ = poll.Steps;
        writes_.Print(poll.Write);
        // Reported after the poll's rows were committed (or found that they
        // cannot be), so a line without a note stands for a stored sample.
        if (poll.Polled && poll.Answered)
            PrintPoll(context_.out, poll);
        if (poll.Polled && !poll.Sent)
            context_.out << "Schnittstelle von " << options_.terminalShown
                         << " belegt oder nicht erreichbar; die Abfrage folgt mit dem n\u00e4chsten Takt" << Qt::endl;
        // A poll without a reading, or a refused command, says why; an
        // answer turned down and asked again with success only counts.
        else if (poll.Polled && (!poll.Answered || poll.FaultKind == Ohmrida::Reply::Refused))
            context_.out << (poll.Fault.isEmpty() ? QStringLiteral("keine Antwort von ") + options_.terminalShown
                                                  : poll.Fault)
                         << Qt::endl;
        rejected_ = poll.RejectedAnswers;
        lateSamples_ = poll.LateSamples;
        lateSteps_ = poll.LateSteps;
        // Step results are printed once they are stored.
        if (poll.Waiting == 0)
            steps_.Print(poll.Steps);
        ended_ = poll.State == Service::Ended;
    }

    // After every request the engine has carried out: the end, or the next tick.
    void afterRequest()
    {
        if (serviceID_ == 0 || engine_.Busy())
            return;
        if (stopping_) {
            if (!stopped_)
                return;
            if (engine_.HasUnwritten()) {
                if (!stopFailure_.isEmpty()) {
                    context_.out << stopFailure_ << '\n'
                                 << "Speichern wird weiter versucht; ein weiteres Strg+C gibt die Eintr\u00e4ge auf"
                                 << Qt::endl;
                    stopFailure_.clear();
                    retrying_ = true;
                }
                ticker_.start(options_.tickMs);
                return;
            }
            if (retrying_)
                context_.out << "Speichern wieder m\u00f6glich: alles nachgetragen" << Qt::endl;
            context_.out << "abgebrochen (Signal " << signal_ << ")" << Qt::endl;
            finish(128 + signal_);
            return;
        }
        if (!ticking_)
            return;
        const TreatmentInfo *held = engine_.FindService(serviceID_);
        if (!held || held->State == Service::Ended || ended_) {
            if (!engine_.HasUnwritten()) {
                if (rejected_ > 0)
                    context_.out << rejected_ << " unverst\u00e4ndliche Antworten verworfen (mit ihren Bytes in "
                                 << DataLocation::LogFilePath() << ")" << Qt::endl;
                const bool ok = AllStepsOK(lastSteps_);
                context_.out << (ok ? "beendet" : "beendet mit Fehler oder Abbruch");
                // Rows that waited out an outage are all in, only late.
                if (lateSamples_ + lateSteps_ > 0)
                    context_.out << " (" << RecordsText(lateSamples_, lateSteps_)
                                 << " nach einem Speicherausfall nachgetragen)";
                context_.out << Qt::endl;
                finish(ok ? 0 : 1);
                return;
            }
            if (!endAnnounced_) {
                endAnnounced_ = true;
                context_.out << "Behandlung beendet; ihre letzten Eintr\u00e4ge warten auf das Speichern" << Qt::endl;
            }
        }
        ticker_.start(firstTick_ ? 0 : options_.tickMs);
        firstTick_ = false;
    }

    void stop()
    {
        stopping_ = true;
        ticker_.stop();
        signal_ = interrupts_.LastSignal();
        if (!engine_.Stop(ticket_))
            QTimer::singleShot(options_.tickMs, this, [this] { stop(); });   // a tick is under way
    }

    void interrupted(int signalNumber, int count)
    {
        if (serviceID_ == 0) {
            // Before the treatment exists nothing is to be stopped; a start
            // still on its way is stopped as soon as it is there.
            if (engine_.Busy())
                return;
            finish(128 + signalNumber);
            return;
        }
        if (!stopping_) {
            stop();
            return;
        }
        if (retrying_ && count > 1) {
            context_.out << "abgebrochen (Signal " << signal_ << "), " << engine_.WaitingWrites()
                         << " Eintr\u00e4ge nicht gespeichert" << Qt::endl;
            finish(128 + signal_);
        }
    }

    TTreatmentEngine &engine_;
    RecordReader &reader_;
    const RunOptions &options_;
    Cli::Context &context_;
    QEventLoop &loop_;
    Cli::Interrupts interrupts_;
    TTreatmentNotices notices_;
    TreatmentNotice end_;
    QTimer ticker_;
    StepPrinter steps_;
    WritePrinter writes_;
    QVector<StepRecord> lastSteps_;
    int ticket_ = 0;
    int serviceID_ = 0;
    int signal_ = 0;
    // As the last report counted them: answers turned down, rows written late.
    int rejected_ = 0, lateSamples_ = 0, lateSteps_ = 0;
    bool ticking_ = false, firstTick_ = true, ended_ = false, endAnnounced_ = false;
    bool stopping_ = false, stopped_ = false, retrying_ = false;
    QString stopFailure_;
};

int runCommand(const QStringList &args, Cli::Context &context)
{
    RunOptions options;
    try {
        const std::optional<RunOptions> parsed = ParseOptions(args);
        if (!parsed)
            return Cli::ShowHelp(context);
        options = *parsed;
    } catch (const OptionError &error) {
        context.err << "braskon-cli run: " << error.Text() << '\n' << Usage << Qt::endl;
        return 2;
    }

    try {
        const auto store = std::make_shared<SqlStore>(context.Database());
        RecordReader reader(store);
        std::string terminal = options.terminal;
        int batteryID = options.batteryID;
        if (options.resume != 0) {
            RunningTreatment row;
            row.ServiceID = options.resume;
            if (reader.FindRunning(row))
                terminal = row.Terminal.toStdString();
        } else {
            BatteryRecord battery;
            battery.ID = options.batteryID;
            if (!reader.LoadBattery(battery)) {
                context.err << "braskon-cli run: Akku " << options.batteryID << " ist nicht in der Datenbank"
                            << Qt::endl;
                return 1;
            }
            for (const RunningTreatment &row : Resume::Interrupted(reader))
                context.err << "Hinweis: die Behandlung " << row.ServiceID << " an " << row.Terminal
                            << " wurde unterbrochen (fortsetzen: braskon-cli run --resume " << row.ServiceID << ")"
                            << Qt::endl;
        }
        options.terminalShown = QString::fromStdString(terminal);

        // One line per poll, in the same per-user state folder as the window's log.
        TTreatmentEngine engine(store, DataLocation::LogFilePath().toStdString());
        engine.SetSamplingThresholds(options.minDeltaU.value_or(10), options.minDeltaI.value_or(1));
        QEventLoop loop;
        RunSession session(engine, reader, options, context, loop);
        session.Start(terminal, batteryID);
        return loop.exec();
    } catch (const std::exception &error) {
        context.err << "braskon-cli run: " << QString::fromUtf8(error.what()) << Qt::endl;
        return 1;
    }
}

const Cli::CommandRegistration registration(
    "run",
    "run --battery ID --terminal NAME --program 1..5 --charge MA --discharge MA\n"
    "                       ein Standardprogramm ausf\u00fchren, bis es endet\n"
    "  run --battery ID --terminal NAME --step L|E:MA[:LIMIT_S]...\n"
    "                       eigene Schritte ausf\u00fchren (Laden oder Entladen, Strom, Zeitgrenze\n"
    "                       in s; bis zu zehn --step)\n"
    "  run --resume SERVICE_ID\n"
    "                       eine unterbrochene Behandlung wieder aufnehmen; alle drei auch mit\n"
    "                       --tick-ms MS, --min-delta-u MV, --min-delta-i MA und --on-end BEFEHL\n"
    "                       (am Ende mit der Shell ausgef\u00fchrt, mit BRASKON_RESULT, _SERVICE_ID,\n"
    "                       _BATTERY_ID, _BATTERY, _NOMINAL_MAH, _TERMINAL, _PROGRAM, _CHARGED_MAH,\n"
    "                       _DISCHARGED_MAH, _STEPS und _MESSAGE in der Umgebung)\n"
    "  run --resume SERVICE_ID --stop\n"
    "                       ihr Ladeger\u00e4t stoppen und sie als abgebrochen abschlie\u00dfen",
    runCommand);

} // namespace
