#include "Command.h"

namespace Cli {

static QList<CommandInfo> &commandList()
{
    static QList<CommandInfo> commands;
    return commands;
}

CommandRegistration::CommandRegistration(const char *name, const char *usage, CommandFunction function)
{
    commandList().append({QString::fromUtf8(name), QString::fromUtf8(usage), function});
}

const QList<CommandInfo> &registeredCommands()
{
    return commandList();
}

} // namespace Cli
