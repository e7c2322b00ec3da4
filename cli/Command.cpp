#include "cli/Command.h"

#include "database/Datamodule.h"
#include "database/Texts.h"

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

QString Context::Database() const
{
    return databaseDir.isEmpty() ? TBRASKDataModule::DefaultDatabaseDirectory() : databaseDir;
}

std::optional<int> OptionNumber(const QString &text, const QString &option, int minimum, int maximum,
                                QString &error)
{
    const std::optional<int> value = WholeNumber(text);
    if (!value) {
        error = QStringLiteral("%1 \"%2\" ist keine ganze Zahl").arg(option, text);
        return std::nullopt;
    }
    if (*value < minimum || *value > maximum) {
        error = QStringLiteral("%1 %2 liegt nicht zwischen %3 und %4").arg(option).arg(*value).arg(minimum).arg(maximum);
        return std::nullopt;
    }
    return value;
}

} // namespace Cli
