// braskon: the windowed program. Start-up: application title, German Qt
// texts, database location, settings, windows and data modules in their fixed
// order, then the event loop shows the main window with its battery page.
//
//   braskon [--database DIR]      (braskon --help lists the options)
// For the documentation screenshot two more options are read:
//   --screenshot FILE  show the main window, save a picture of it, quit
//   --demo             with --screenshot: fill an empty database with a few batteries

#include "app/QuitSignals.h"

#include "database/MainCommands.h"
#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include "BraskonVersion.h"
#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "treatment/Localization.h"
#include "treatment/PortSettings.h"
#include "treatment/TreatmentEngine.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Options {
    QString databaseDirectory;
    QString screenshotFile;
    bool demo = false;
};

QString HelpText()
{
    return (QStringLiteral(
               "Aufruf: braskon [OPTIONEN]\n"
               "\n"
               "Braskon %1 \u2013 Steuersoftware f\u00fcr Ohmrida Ladeger\u00e4te und den Kestrix-Datenlogger.\n"
               "\n"
               "Optionen:\n")
           + DataLocation::OptionHelp()
           + QStringLiteral(
               "  -h, --help           diese Hilfe anzeigen\n"
               "  -v, --version        Versionsnummer anzeigen\n"
               "\n"
               "Die Umgebungsvariable BRASKON_COMn (n = 1..9) \u00fcberschreibt das Ger\u00e4t, das in den\n"
               "Einstellungen (Seite \u201eSchnittstellen\u201c) f\u00fcr COMn gew\u00e4hlt ist.\n"
               "Der Befehl am Ende einer Behandlung (Einstellungen, Seite \u201eMeldungen\u201c) l\u00e4uft mit\n"
               "BRASKON_RESULT (OK, Fehler, abgebrochen), BRASKON_SERVICE_ID, BRASKON_BATTERY_ID,\n"
               "BRASKON_BATTERY, BRASKON_NOMINAL_MAH, BRASKON_TERMINAL, BRASKON_PROGRAM,\n"
               "BRASKON_CHARGED_MAH, BRASKON_DISCHARGED_MAH, BRASKON_STEPS und BRASKON_MESSAGE\n"
               "in der Umgebung.\n"
               "Die Kommandozeilenfassung ist braskon-cli (braskon-cli --help).\n"
               "\n"
               "Dateien:\n"
               "  %2/braskon.db\n"
               "                       die Datenbank (ein Ordner \u201edatabase\u201c neben dem Programm hat\n"
               "                       Vorrang)\n"
               "  %3/log.txt\n"
               "                       eine Zeile je Abfrage eines Ladeger\u00e4ts\n"
               "  %4\n"
               "                       Einstellungen, Schnittstellen-Zuordnung, Fenstergr\u00f6\u00dfe\n"))
        .arg(QStringLiteral(BRASKON_VERSION), DataLocation::UserDataDirectory(), DataLocation::UserStateDirectory(),
             DataLocation::UserSettingsFile());
}

// Reads the options; returns -1 to go on, else the exit status.
int ReadOptions(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("ORDNER"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("DATEI"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({database, screenshot, demo, help, version});
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.parse(arguments)) {
        err << "braskon: " << parser.errorText() << "\n(braskon --help zeigt die Hilfe)" << Qt::endl;
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        if (parser.isSet(help))
            out << HelpText();
        else
            out << "braskon " << BRASKON_VERSION << '\n';
        out.flush();
        if (out.status() == QTextStream::Ok && std::fflush(stdout) == 0)
            return 0;
        err << "braskon: die Ausgabe kann nicht geschrieben werden" << Qt::endl;
        return 1;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "braskon: unerwartetes Argument \u201e" << parser.positionalArguments().constFirst()
            << "\u201c\n(braskon --help zeigt die Hilfe)" << Qt::endl;
        return 2;
    }
    options.databaseDirectory = parser.value(database);
    options.screenshotFile = parser.value(screenshot);
    options.demo = parser.isSet(demo);
    return -1;
}

// The engine stores them; `ready` runs once the last one is in (at once when
// there is nothing to add).
void AddDemoBatteries(TBraskon &program, const std::function<void()> &ready)
{
    TBRASKDataModule &database = program.DataModule();
    if (database.IsReadOnly() || database.BatteryQuery()->rowCount() > 0) {
        ready();
        return;
    }
    const MainCommands::NewBatteryInput batteries[] = {
        {QString(), QStringLiteral("600"), 1, 4, QStringLiteral("4"), QStringLiteral("Empfänger-Akku Segler")},
        {QString(), QStringLiteral("1700"), 0, 0, QStringLiteral("7"), QStringLiteral("Fahrakku Buggy")},
        {QString(), QStringLiteral("2000"), 1, 4, QStringLiteral("1"), QStringLiteral("Kamera Mignon 1")},
        {QString(), QStringLiteral("7200"), 2, 0, QStringLiteral("6"), QStringLiteral("Bleigel Rasenmäher")},
    };
    for (MainCommands::NewBatteryInput battery : batteries) {
        battery.id = QStringLiteral("0");   // the counter's next ID
        program.Engine().AddBattery(MainCommands::NewBatteryFromInput(battery), 0);
    }
    QObject::connect(&program.Engine(), &TTreatmentEngine::TreatmentsChanged, &program.MainForm(),
                     [&program, ready, done = false]() mutable {
                         if (done || program.Engine().Busy())
                             return;
                         done = true;
                         program.DataModule().ReopenBatteries(0);
                         ready();
                     });
}

bool HasScreen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// A start that fails ends the program: the reason goes to the error output
// for scripts and logs, and into a message box when there is a screen to show
// it on (on the offscreen platform nobody could close the box).
void ShowStartupError(const QString &text)
{
    QTextStream(stderr) << "braskon: " << text << Qt::endl;
    if (HasScreen())
        QMessageBox::critical(nullptr, QStringLiteral(BRASKON_WINDOW_CLASS), text);
}

// Something the user should know at start that does not stop the program:
// on the error output, and in a box that does not hold up the window.
void ShowStartupNotice(QWidget *window, const QString &title, const QString &text)
{
    QTextStream(stderr) << "braskon: " << text << Qt::endl;
    if (!HasScreen())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

// Qt ends a program it finds no window system for with its own fatal
// message (advising to reinstall the program) and an abort. While the
// application is created, this handler catches that and says instead, in
// German, what is missing; the window system's own warnings are held back
// and passed on only when the start succeeds.
class DisplayCheck {
public:
    DisplayCheck() { previous_ = qInstallMessageHandler(&DisplayCheck::handle); }
    ~DisplayCheck()
    {
        qInstallMessageHandler(previous_);
        for (const Held &message : held_) {
            const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
            if (previous_)
                previous_(message.type, context, message.text);
        }
        held_.clear();
    }
    DisplayCheck(const DisplayCheck &) = delete;
    DisplayCheck &operator=(const DisplayCheck &) = delete;

private:
    struct Held {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type != QtFatalMsg) {
            held_.push_back({type, QByteArray(context.category), text});
            return;
        }
        // The window system's first complaint names the cause ("could not
        // connect to display"); the later ones follow from it.
        QString reason;
        for (const Held &message : held_) {
            if (message.category.startsWith("qt.qpa")) {
                reason = message.text;
                break;
            }
        }
        const QString display = qEnvironmentVariable("DISPLAY"), wayland = qEnvironmentVariable("WAYLAND_DISPLAY"),
                      platform = qEnvironmentVariable("QT_QPA_PLATFORM");
        QString what;
        if (!platform.isEmpty()) {
            what = QStringLiteral("die Fensterumgebung QT_QPA_PLATFORM=%1 ist nicht verf\u00fcgbar").arg(platform);
        } else if (display.isEmpty() && wayland.isEmpty()) {
            what = QStringLiteral("keine grafische Anzeige: DISPLAY und WAYLAND_DISPLAY sind nicht gesetzt");
            reason.clear();   // nothing Qt could add to that
        } else {
            what = QStringLiteral("die grafische Anzeige %1 ist nicht erreichbar")
                       .arg(wayland.isEmpty() ? QStringLiteral("DISPLAY=") + display
                                              : QStringLiteral("WAYLAND_DISPLAY=") + wayland);
        }
        if (!reason.isEmpty())
            what += QStringLiteral(" (%1)").arg(reason);
        QTextStream(stderr) << "braskon: " << what
                            << ".\nbraskon braucht eine Anzeige (X11 oder Wayland); ohne Fenster arbeitet braskon-cli"
                               " (braskon-cli --help)."
                            << Qt::endl;
        std::_Exit(1);
    }
    static inline QtMessageHandler previous_ = nullptr;
    static inline std::vector<Held> held_;
};

}  // namespace

// --help and --version must work without a screen: they are answered before
// the window system is opened.
bool AsksForHelpOrVersion(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h" || argument == "--version" || argument == "-v")
            return true;
    }
    return false;
}

int main(int argc, char *argv[])
{
    if (AsksForHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        InstallGermanQtTranslation(core);
        Options options;
        const int status = ReadOptions(QCoreApplication::arguments(), options);
        return status >= 0 ? status : 0;
    }
    auto displayCheck = std::make_unique<DisplayCheck>();
    QApplication application(argc, argv);
    displayCheck.reset();
    // From here on a request to end waits for the event loop, however early it comes.
    TQuitSignals quitSignals;
    // The application title, and the window class the desktop file names.
    QApplication::setApplicationName(QStringLiteral(BRASKON_WINDOW_CLASS));
    QApplication::setApplicationVersion(QStringLiteral(BRASKON_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("de.quentax.braskon"));
    InstallGermanQtTranslation(application);

    Options options;
    if (const int status = ReadOptions(QApplication::arguments(), options); status >= 0)
        return status;

    const DataLocation location = DataLocation::ForThisProgram(options.databaseDirectory);
    std::unique_ptr<TBraskon> program;
    try {
        QString error;
        if (!location.Prepare(error)) {
            ShowStartupError(error);
            return 1;
        }
        program = std::make_unique<TBraskon>(location.directory, DataLocation::LogFilePath().toStdString());
        // A lab database: the lists show what the other PCs change.
        program->DataModule().FollowOtherPCs();
    } catch (const DatabaseError &error) {
        ShowStartupError(error.message());
        return 1;
    } catch (const std::exception &error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()));
        return 1;
    }

    TMainForm &mainForm = program->MainForm();
    // The documentation screenshot shows the window as a first start does.
    const std::unique_ptr<QSettings> settings = PortSettings::OpenUserSettings();
    if (options.screenshotFile.isEmpty())
        mainForm.SetSettings(settings.get());
    mainForm.show();

    // Once per start: a database that may only be read (the file's rights,
    // or a server role that may not write), a password found in the
    // settings, and ports this user may not open (they look like ports
    // without a charger otherwise).
    if (location.readOnly || program->DataModule().IsReadOnly())
        ShowStartupNotice(&mainForm, QStringLiteral("Datenbank schreibgesch\u00fctzt"),
                          location.readOnly ? location.message
                                            : DataLocation::ReadOnlyRoleMessage(program->DataModule().DatabaseFile()));
    QString forgotten;
    if (DataLocation::ForgetStoredPassword(*settings, forgotten))
        ShowStartupNotice(&mainForm, QStringLiteral("Passwort"), forgotten);
    const QStringList denied = PortSettings::DeniedPortMessages();
    if (!denied.isEmpty())
        ShowStartupNotice(&mainForm, QStringLiteral("Schnittstellen"), denied.join(QLatin1Char('\n')));

    if (!options.screenshotFile.isEmpty()) {
        const auto takeScreenshot = [&mainForm, file = options.screenshotFile] {
            // Once the first layout and the idle update have run.
            QTimer::singleShot(200, &mainForm, [&mainForm, file] {
                mainForm.UpdateMenus();
                const bool saved = mainForm.grab().save(file);
                QApplication::exit(saved ? 0 : 2);
            });
        };
        if (options.demo)
            AddDemoBatteries(*program, takeScreenshot);
        else
            takeScreenshot();
    }
    // Ended from outside (logout, kill, Ctrl+C in the terminal): as by "Beenden",
    // without the question about running treatments nobody could answer
    // then; they go on and are taken up at the next start.
    QObject::connect(&quitSignals, &TQuitSignals::QuitRequested, &mainForm, [&mainForm] {
        mainForm.QuitWithoutQuestion();
        QApplication::exit(0);
    });
    const int status = QApplication::exec();
    mainForm.SetSettings(nullptr);
    program.reset();
    return status;
}
