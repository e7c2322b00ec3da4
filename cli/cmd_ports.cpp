// braskon-cli ports: the serial devices of the machine and which of them
// COM1..COM9 stand for, with where the assignment comes from (this call's
// --port, the environment, the settings or the default) and whether the user
// may open the device.

#include "cli/Arguments.h"
#include "cli/Command.h"

#include "treatment/PortSettings.h"
#include "charger/SerialPorts.h"

namespace {

using namespace Ohmrida::SerialPorts;

QString originText(Origin origin, int port)
{
    switch (origin) {
    case Origin::CommandLine:
        return QStringLiteral("Aufruf (--port)");
    case Origin::Environment:
        return QStringLiteral("Umgebung (BRASKON_COM%1)").arg(port);
    case Origin::Assignment:
        return QStringLiteral("Einstellungen");
    case Origin::Default:
        break;
    }
    return QStringLiteral("Standard");
}

QString accessText(const std::string &device)
{
    switch (CheckAccess(device)) {
    case Access::Usable:
        return QStringLiteral("bereit");
    case Access::Denied:
        return QStringLiteral("Zugriff verweigert (%1)").arg(QString::fromStdString(DenialSummary(ExplainDenial(device))));
    case Access::Missing:
        break;
    }
    return QStringLiteral("nicht vorhanden");
}

int portsCommand(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({});
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    if (outcome == Cli::Arguments::Outcome::Wrong) {
        context.err << "Aufruf: braskon-cli ports" << Qt::endl;
        return 2;
    }
    context.out << "Zuordnung:\n";
    for (int port = FirstPort; port <= LastPort; ++port) {
        const Resolved resolved = Resolve(port);
        context.out << "COM" << port << '\t' << QString::fromStdString(resolved.device) << '\t'
                    << originText(resolved.origin, port) << '\t' << accessText(resolved.device) << '\n';
    }
    context.out << "\nSerielle Ger\u00e4te:\n";
    const std::vector<Device> devices = ListDevices();
    if (devices.empty())
        context.out << "(keine gefunden)\n";
    for (const Device &device : devices) {
        QStringList fields{QString::fromStdString(device.path)};
        if (!device.target.empty())
            fields << QString::fromStdString(device.target);
        if (!device.description.empty())
            fields << QString::fromStdString(device.description);
        context.out << fields.join(QLatin1Char('\t')) << '\n';
    }
    context.out.flush();
    return 0;
}

static const Cli::CommandRegistration registration(
    "ports",
    "ports                die Zuordnung COM1..COM9 und die seriellen Ger\u00e4te des Rechners anzeigen",
    portsCommand);

} // namespace
