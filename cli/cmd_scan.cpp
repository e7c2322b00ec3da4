// braskon-cli scan: searches COM1..COM9 for chargers and lists their terminals.

#include "Command.h"

#include "PortSettings.h"
#include "TerminalManager.h"

namespace {

int scanCommand(const QStringList &args, Cli::Context &context)
{
    if (!args.isEmpty()) {
        context.err << "Aufruf: braskon-cli scan" << Qt::endl;
        return 2;
    }
    Ohmrida::TerminalManager manager;
    manager.Scan();
    manager.First();
    for (uint32_t i = 0; i < manager.Count(); ++i) {
        const auto entry = manager.Next();
        if (!entry.second)
            break;
        context.out << QString::fromStdString(entry.first) << '\t' << int(entry.second->DeviceType()) << '\t'
                    << QStringLiteral("0x%1").arg(uint(entry.second->Address()), 2, 16, QLatin1Char('0')) << '\n';
    }
    context.out.flush();
    // A port the user may not open looks like an empty port to the search:
    // say so. Finding nothing is a failure, with or without that reason.
    const QStringList denied = PortSettings::DeniedPortMessages();
    for (const QString &message : denied)
        context.err << "braskon-cli scan: " << message << '\n';
    if (manager.Count() == 0)
        context.err << "braskon-cli scan: kein Ladeterminal an COM1..COM9 gefunden (braskon-cli ports zeigt die "
                       "Zuordnung)\n";
    context.err.flush();
    return manager.Count() == 0 ? 1 : 0;
}

static const Cli::CommandRegistration registration(
    "scan", "scan                 die Ladeterminals an COM1..COM9 suchen (Name, Ger\u00e4tetyp, Adresse)",
    scanCommand);

} // namespace
