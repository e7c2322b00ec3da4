// braskon-cli: the headless front end over Braskon's libraries.
//   braskon-cli [--database DIR] [--port COMn=DEVICE]... COMMAND [ARGS...]

#include "cli/Command.h"

#include "BraskonVersion.h"
#include "treatment/PortSettings.h"
#include "database/DataLocation.h"
#include "treatment/Localization.h"

#include "charger/SerialPorts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

QString helpText()
{
    QString text = QStringLiteral(
        "Aufruf: braskon-cli [OPTIONEN] BEFEHL [ARGUMENTE...]\n"
        "\n"
        "Braskon ohne Fenster: Ladeger\u00e4te suchen, Akkus und Aufzeichnungen verwalten,\n"
        "Behandlungen ausf\u00fchren, den Kestrix auslesen, exportieren. Dieselbe Datenbank\n"
        "wie das Programm braskon.\n"
        "\n"
        "Optionen:\n");
    text += DataLocation::OptionHelp();
    text += QStringLiteral(
        "  --port COMn=GER\u00c4T    COMn f\u00fcr diesen Aufruf dem Ger\u00e4t zuordnen, z. B.\n"
        "                       COM1=/dev/ttyUSB0 (mehrfach m\u00f6glich)\n"
        "  -h, --help           diese Hilfe anzeigen\n"
        "  -v, --version        Versionsnummer anzeigen\n"
        "\n"
        "Befehle:\n");
    for (const Cli::CommandInfo &command : Cli::registeredCommands())
        text += QStringLiteral("  ") + command.usage + QLatin1Char('\n');
    text += QStringLiteral(
        "\n"
        "Schnittstellen: COMn ist das Ger\u00e4t aus --port, sonst aus der Umgebungsvariablen\n"
        "BRASKON_COMn, sonst aus den Einstellungen (Seite \u201eSchnittstellen\u201c in braskon),\n"
        "sonst /dev/ttyS(n-1).\n"
        "\n"
        "Exit-Status: 0 Erfolg, 1 Fehler (auch: nicht gefunden, nichts gefunden, Ausgabe nicht\n"
        "schreibbar), 2 falscher Aufruf.\n"
        "\n"
        "Dateien:\n"
        "  %1/braskon.db\n"
        "                       die Datenbank (ein Ordner \u201edatabase\u201c neben dem Programm hat\n"
        "                       Vorrang)\n"
        "  %2/log.txt\n"
        "                       eine Zeile je Abfrage eines Ladeger\u00e4ts\n"
        "  %3\n"
        "                       Einstellungen und Schnittstellen-Zuordnung\n")
                .arg(DataLocation::UserDataDirectory(), DataLocation::UserStateDirectory(),
                     DataLocation::UserSettingsFile());
    return text;
}

// Whatever a command printed must have reached standard output: a full disk
// or a closed file behind it makes the command fail.
bool StandardOutputWritten(QTextStream &out)
{
    out.flush();
    return out.status() == QTextStream::Ok && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

const char *const OutputFailed = "braskon-cli: die Ausgabe kann nicht geschrieben werden";

// Commands that never touch the database need no word about it.
bool usesDatabase(const QString &command)
{
    return command != QLatin1String("scan") && command != QLatin1String("ports") && command != QLatin1String("db");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("braskon-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRASKON_VERSION));
    InstallGermanQtTranslation(app);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    // Everything after the command belongs to the command.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption databaseOption(QStringLiteral("database"), QString(), QStringLiteral("ORDNER"));
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("COMn=GER\u00c4T"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({databaseOption, portOption, helpOption, versionOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        err << "braskon-cli: " << parser.errorText() << "\n(braskon-cli --help zeigt die Hilfe)" << Qt::endl;
        return 2;
    }
    if (parser.isSet(helpOption)) {
        out << helpText();
        if (StandardOutputWritten(out))
            return 0;
        err << OutputFailed << Qt::endl;
        return 1;
    }
    if (parser.isSet(versionOption)) {
        out << "braskon-cli " << BRASKON_VERSION << '\n';
        if (StandardOutputWritten(out))
            return 0;
        err << OutputFailed << Qt::endl;
        return 1;
    }

    // The user's assignment from the settings, BRASKON_COM<n> over it, and
    // this run's --port options over both.
    PortSettings::Apply(*PortSettings::OpenUserSettings());
    for (const QString &assignment : parser.values(portOption)) {
        int port = 0;
        QString device, error;
        if (!PortSettings::ParseAssignment(assignment, port, device, error)) {
            err << "braskon-cli: " << error << Qt::endl;
            return 2;
        }
        // Typed for this run, so it wins over BRASKON_COM<n> as well.
        Ohmrida::SerialPorts::Override(port, device.toStdString());
    }

    QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        err << helpText();
        err.flush();
        return 2;
    }
    const QString name = args.takeFirst();
    for (const Cli::CommandInfo &command : Cli::registeredCommands()) {
        if (command.name != name)
            continue;
        Cli::Context context{QString(), out, err, command.usage};
        if (usesDatabase(name)) {
            const DataLocation location = DataLocation::ForThisProgram(parser.value(databaseOption));
            QString error;
            if (!location.Prepare(error)) {
                err << "braskon-cli: " << error << Qt::endl;
                return 1;
            }
            if (location.readOnly)
                err << "braskon-cli: " << location.message << Qt::endl;
            context.databaseDir = location.directory;
            // Read above for this run; no longer kept in the settings.
            QString forgotten;
            if (DataLocation::ForgetStoredPassword(*DataLocation::OpenUserSettings(), forgotten))
                err << "braskon-cli: " << forgotten << Qt::endl;
        }
        // Whatever a command did not catch ends it with its message, not with
        // an abort: a damaged database must never take the program down.
        int status = 1;
        try {
            status = command.function(args, context);
        } catch (const std::exception &error) {
            err << "braskon-cli " << name << ": " << QString::fromUtf8(error.what()) << Qt::endl;
        } catch (...) {
            err << "braskon-cli " << name << ": unbekannter Fehler" << Qt::endl;
        }
        if (StandardOutputWritten(out))
            return status;
        // A command that failed has said why already.
        if (status == 0)
            err << OutputFailed << Qt::endl;
        return std::max(status, 1);
    }
    err << "braskon-cli: unbekannter Befehl \u201e" << name << "\u201c (braskon-cli --help zeigt die Befehle)"
        << Qt::endl;
    return 2;
}
