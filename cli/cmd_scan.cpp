// braskon-cli scan: searches COM1..COM9 for chargers and lists their terminals.

#include "Command.h"

#include "TerminalManager.h"

namespace {

int scanCommand(const QStringList &args, Cli::Context &context)
{
    if (!args.isEmpty()) {
        context.err << "usage: braskon-cli scan" << Qt::endl;
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
    return 0;
}

static const Cli::CommandRegistration registration(
    "scan", "scan                 list the charger terminals found on COM1..COM9 (name, device type, address)",
    scanCommand);

} // namespace
