// braskon-cli run: runs one treatment on a charger terminal until it ends,
// with the same start operation and timer tick as the main window.
//
//   run --battery ID --terminal NAME (--program 1..5 --charge MA --discharge MA
//       | --step L|E:MA[:LIMIT_S] ...) [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]
//   run --resume SERVICE_ID [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]
//
// Ctrl+C or SIGTERM stops the treatment as the stop command does (terminal
// stopped, running step "abgebrochen", all records kept) and exits 128+signal.
// A terminal that another process runs a treatment on is refused before any
// port is searched. --resume takes up a treatment whose recorder was killed,
// if its charger still runs it (else its open steps become "abgebrochen").
// Every poll line is printed after its sample and step rows are committed.
// While the database cannot be written (locked by another program, disk full)
// the polls go on: a line says so once, each poll line then ends with
// "(nicht gespeichert, N warten)", and a line says when the waiting records
// were written. A stop whose records cannot be written keeps trying until they
// are, or until a second Ctrl+C gives them up.

#include "Command.h"

#include "charger/TerminalManager.h"
#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "treatment/Resume.h"
#include "treatment/Serviceman.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Set by the signal handler only; the run loop looks at them between its waits.
std::atomic<int> receivedSignal{0};
std::atomic<int> signalCount{0};

extern "C" void rememberSignal(int signalNumber)
{
    receivedSignal.store(signalNumber);
    signalCount.fetch_add(1);
}

// Routes SIGINT and SIGTERM to the flag while a run lasts.
class SignalCatcher {
public:
    SignalCatcher()
    {
        receivedSignal.store(0);
        signalCount.store(0);
        struct sigaction action {};
        action.sa_handler = rememberSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~SignalCatcher()
    {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    SignalCatcher(const SignalCatcher &) = delete;
    SignalCatcher &operator=(const SignalCatcher &) = delete;

    int Signal() const { return receivedSignal.load(); }
    int Count() const { return signalCount.load(); }

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

struct RunOptions {
    int batteryID = 0;
    std::string terminal;
    int program = 0;   // 0: user steps
    int charge = 0;
    int discharge = 0;
    std::vector<UserStep> steps;
    int tickMs = 10000;
    int resume = 0;   // the treatment to take up, 0: start a new one
    std::optional<int> minDeltaU, minDeltaI;
};

const char *const Usage =
    "Aufruf: braskon-cli run --battery ID --terminal NAME\n"
    "         (--program 1..5 --charge MA --discharge MA | --step L|E:MA[:LIMIT_S] ...)\n"
    "         [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]\n"
    "       braskon-cli run --resume SERVICE_ID [--tick-ms MS] [--min-delta-u MV] [--min-delta-i MA]";

class OptionError {
public:
    explicit OptionError(QString text) : text_(std::move(text)) {}
    const QString &Text() const { return text_; }

private:
    QString text_;
};

int Number(const QString &text, const QString &option, int minimum, int maximum)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        throw OptionError(QStringLiteral("%1 \"%2\" ist keine ganze Zahl").arg(option, text));
    if (value < minimum || value > maximum)
        throw OptionError(
            QStringLiteral("%1 %2 liegt nicht zwischen %3 und %4").arg(option).arg(value).arg(minimum).arg(maximum));
    return value;
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

RunOptions ParseOptions(const QStringList &args)
{
    RunOptions options;
    bool hasBattery = false, hasCharge = false, hasDischarge = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &name = args[i];
        if (i + 1 >= args.size())
            throw OptionError(QStringLiteral("%1 ohne Wert").arg(name));
        const QString value = args[++i];
        if (name == QLatin1String("--battery")) {
            options.batteryID = Number(value, name, 1, 2147483647);
            hasBattery = true;
        } else if (name == QLatin1String("--terminal")) {
            options.terminal = value.toStdString();
        } else if (name == QLatin1String("--program")) {
            options.program = Number(value, name, 1, 5);
        } else if (name == QLatin1String("--charge")) {
            options.charge = Number(value, name, 1, 65535);
            hasCharge = true;
        } else if (name == QLatin1String("--discharge")) {
            options.discharge = Number(value, name, 1, 65535);
            hasDischarge = true;
        } else if (name == QLatin1String("--step")) {
            options.steps.push_back(ParseStep(value));
        } else if (name == QLatin1String("--resume")) {
            options.resume = Number(value, name, 1, 2147483647);
        } else if (name == QLatin1String("--tick-ms")) {
            options.tickMs = Number(value, name, 50, 3600000);
        } else if (name == QLatin1String("--min-delta-u")) {
            options.minDeltaU = std::abs(Number(value, name, -1000000, 1000000));
        } else if (name == QLatin1String("--min-delta-i")) {
            options.minDeltaI = std::abs(Number(value, name, -1000000, 1000000));
        } else {
            throw OptionError(QStringLiteral("unbekannte Angabe %1").arg(name));
        }
    }
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

// The currents the terminal will be asked for, checked against its limits.
void CheckCurrents(const RunOptions &options, const Ohmrida::Terminal &terminal)
{
    std::vector<int> currents;
    if (options.program != 0) {
        currents = {options.charge, options.discharge};
    } else {
        for (const UserStep &step : options.steps)
            currents.push_back(step.Current);
    }
    for (int current : currents) {
        if (current < terminal.MinCurrent() || current > terminal.MaxCurrent())
            throw OptionError(QStringLiteral("Strom %1 mA liegt nicht zwischen %2 und %3 mA von %4")
                                  .arg(current)
                                  .arg(terminal.MinCurrent())
                                  .arg(terminal.MaxCurrent())
                                  .arg(QString::fromStdString(terminal.Name())));
    }
}

// Keeps the last values the tick showed.
class ConsoleControlWindow : public ServiceControlWindow {
public:
    void SetupService(int, const QString &caption, double, double) override { Caption = caption; }
    void ShowTime(int seconds) override { Time = seconds; }
    void ShowVoltage(double volts) override { Voltage = volts; }
    void ShowCurrent(double amps) override { Current = amps; }
    void AddVoltagePoint(double) override {}
    void SetStepFunction(int function) override { Function = function; }
    void ShowCapacity(int mAh) override { Capacity = mAh; }
    void RefreshSteps() override {}
    void SetService(Service *) override {}
    void SetNominalCapacity(int) override {}

    QString Caption;
    int Time = 0, Function = Warten, Capacity = 0;
    double Voltage = 0, Current = 0;
};

// One "page" per treatment; no diagrams.
class ConsoleHost : public ServiceHost {
public:
    ServiceControlWindow *CreateServicePage(int) override
    {
        windows_.push_back(std::make_unique<ConsoleControlWindow>());
        return windows_.back().get();
    }
    void DeleteServicePage(ServiceControlWindow *window) override
    {
        for (auto it = windows_.begin(); it != windows_.end(); ++it)
            if (it->get() == window) {
                windows_.erase(it);
                return;
            }
    }
    std::vector<LiveSampleSink *> DiagramWindows() override { return {}; }
    void ShowBatteryPage() override {}

private:
    std::vector<std::unique_ptr<ConsoleControlWindow>> windows_;
};

// Prints every step whose state differs from what was printed last.
class StepPrinter {
public:
    explicit StepPrinter(QTextStream &out) : out_(out) {}

    void Print(const Service &service)
    {
        printed_.resize(static_cast<size_t>(service.StepCount()), -1);
        for (int i = 0; i < service.StepCount(); ++i) {
            const StepRecord &step = service.Step(i);
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

// One poll; `waiting` > 0 when its records are not stored yet.
void PrintPoll(QTextStream &out, const Service &service, const ConsoleControlWindow &window, int waiting)
{
    const int step = std::min(service.CurrentStep(), service.StepCount() - 1) + 1;
    out << "Schritt " << step << "  Zeit " << DurationText(window.Time) << "  "
        << QString::number(window.Voltage, 'f', 3) << " V  " << QString::number(window.Current, 'f', 3) << " A  "
        << window.Capacity << " mAh  " << FunctionName(window.Function);
    if (waiting > 0)
        out << "  (nicht gespeichert, " << waiting << " warten)";
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

bool AllStepsOK(const Service &service)
{
    for (int i = 0; i < service.StepCount(); ++i)
        if (service.Step(i).State != OK)
            return false;
    return true;
}

// Waits up to ms, returning early when more than `seen` signals arrived.
bool WaitUnlessSignalled(const SignalCatcher &catcher, int ms, int seen = 0)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (catcher.Count() > seen)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    }
    return catcher.Count() <= seen;
}

// Stops the treatment on a signal; records that cannot be written then are
// tried again every tick until they are, or until another signal gives them up.
int StopOnSignal(QTextStream &out, TServiceManager &manager, ConsoleHost &host, Service *service,
                 const SignalCatcher &catcher, int tickMs)
{
    const int signalNumber = catcher.Signal();
    try {
        manager.StopService(host, service);
    } catch (const DatabaseError &error) {
        out << error.message() << '\n'
            << "Speichern wird weiter versucht; ein weiteres Strg+C gibt die Eintr\u00e4ge auf" << Qt::endl;
        const int seen = catcher.Count();
        while (manager.HasUnwritten() && WaitUnlessSignalled(catcher, tickMs, seen))
            manager.Tick(host);
        if (manager.HasUnwritten()) {
            out << "abgebrochen (Signal " << signalNumber << "), " << manager.WaitingWrites()
                << " Eintr\u00e4ge nicht gespeichert" << Qt::endl;
            return 128 + signalNumber;
        }
        out << "Speichern wieder m\u00f6glich: alles nachgetragen" << Qt::endl;
    }
    out << "abgebrochen (Signal " << signalNumber << ")" << Qt::endl;
    return 128 + signalNumber;
}

int runCommand(const QStringList &args, Cli::Context &context)
{
    const SignalCatcher catcher;
    RunOptions options;
    try {
        options = ParseOptions(args);
    } catch (const OptionError &error) {
        context.err << "braskon-cli run: " << error.Text() << '\n' << Usage << Qt::endl;
        return 2;
    }

    try {
        const QString directory =
            context.databaseDir.isEmpty() ? TBRASKDataModule::DefaultDatabaseDirectory() : context.databaseDir;
        TBRASKDataModule database(directory);
        if (options.minDeltaU)
            database.SetMinDeltaU(*options.minDeltaU);
        if (options.minDeltaI)
            database.SetMinDeltaI(*options.minDeltaI);

        Ohmrida::TerminalManager terminals;
        // One line per poll, in the same per-user state folder as the window's log.
        TServiceManager manager(database, terminals, DataLocation::LogFilePath().toStdString());
        ConsoleHost host;
        Service *service = nullptr;
        std::unique_ptr<TerminalLock> lock;
        if (options.resume != 0) {
            try {
                service = manager.ResumeService(host, options.resume);
            } catch (const std::runtime_error &error) {
                // Not resumable (still recorded, terminal busy or silent): nothing changed.
                context.err << "braskon-cli run: " << QString::fromUtf8(error.what()) << Qt::endl;
                return 1;
            }
            if (!service) {
                context.out << "Das Ladeger\u00e4t f\u00fchrt die Behandlung " << options.resume
                            << " nicht mehr aus; offene Schritte abgebrochen" << Qt::endl;
                return 1;
            }
        } else {
            TBRASKDataModule::Battery battery;
            battery.ID = options.batteryID;
            if (!database.LoadBattery(battery)) {
                context.err << "braskon-cli run: Akku " << options.batteryID << " ist nicht in der Datenbank"
                            << Qt::endl;
                return 1;
            }
            for (const TBRASKDataModule::RunningTreatment &row : Resume::Interrupted(database))
                context.err << "Hinweis: die Behandlung " << row.ServiceID << " an " << row.Terminal
                            << " wurde unterbrochen (fortsetzen: braskon-cli run --resume " << row.ServiceID << ")"
                            << Qt::endl;
            // Before any port is searched: a terminal in use elsewhere gets nothing sent.
            try {
                lock = manager.ClaimTerminal(options.terminal);
            } catch (const TerminalBusyError &error) {
                context.err << "braskon-cli run: " << QString::fromUtf8(error.what()) << Qt::endl;
                return 1;
            }
            terminals.Scan();
            const Ohmrida::Terminal *terminal = terminals.Get(options.terminal);
            if (!terminal) {
                context.err << "braskon-cli run: Ladeterminal \"" << QString::fromStdString(options.terminal)
                            << "\" nicht gefunden (" << terminals.Count() << " Terminals gefunden)" << Qt::endl;
                return 1;
            }
            try {
                CheckCurrents(options, *terminal);
            } catch (const OptionError &error) {
                context.err << "braskon-cli run: " << error.Text() << Qt::endl;
                return 2;
            }
            if (catcher.Signal())
                return 128 + catcher.Signal();
            service = options.program != 0
                          ? manager.StartStandardService(host, options.batteryID, options.program, options.charge,
                                                         options.discharge, options.terminal)
                          : manager.StartUserService(host, options.batteryID, options.steps, options.terminal);
        }
        const std::string terminalName = service->Terminal().Name();
        const auto *window = static_cast<const ConsoleControlWindow *>(service->ControlWindow());
        context.out << "Behandlung " << service->ID() << (options.resume ? " fortgesetzt" : "") << ": "
                    << window->Caption << ", Programm " << ProgramName(service->Program()) << '\n';
        StepPrinter steps(context.out);
        steps.Print(*service);
        WritePrinter writes(context.out);
        bool endAnnounced = false;

        while (true) {
            if (catcher.Signal())
                return StopOnSignal(context.out, manager, host, service, catcher, options.tickMs);
            // Tick returns after the poll's rows are committed (or found that
            // they cannot be), so a line printed here without a note stands
            // for a stored sample.
            const Service *polled = manager.Tick(host);
            const WriteStatus status = service->WriteState();
            writes.Print(status);
            if (polled == service && service->LastPollAnswered())
                PrintPoll(context.out, *service, *window, service->HasPendingWrites() ? status.WaitingSamples : 0);
            else if (!service->LastPollAnswered())
                context.out << "keine Antwort von " << QString::fromStdString(terminalName) << Qt::endl;
            // Step results are printed once they are stored.
            if (!service->HasPendingWrites())
                steps.Print(*service);
            if (service->ServiceState() == Service::Ended) {
                if (!manager.HasUnwritten()) {
                    const bool ok = AllStepsOK(*service);
                    context.out << (ok ? "beendet" : "beendet mit Fehler oder Abbruch") << Qt::endl;
                    return ok ? 0 : 1;
                }
                if (!endAnnounced) {
                    endAnnounced = true;
                    context.out << "Behandlung beendet; ihre letzten Eintr\u00e4ge warten auf das Speichern"
                                << Qt::endl;
                }
            }
            WaitUnlessSignalled(catcher, options.tickMs);
        }
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
    "                       --tick-ms MS, --min-delta-u MV, --min-delta-i MA",
    runCommand);

} // namespace
