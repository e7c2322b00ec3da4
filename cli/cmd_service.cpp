// braskon-cli service delete ID: a treatment with its steps and samples.

#include "Command.h"

#include "database/Datamodule.h"

namespace {

int service(const QStringList &args, Cli::Context &context)
{
    if (args.size() != 2 || args.first() != QLatin1String("delete")) {
        context.err << "braskon-cli service: \"delete ID\" erwartet" << Qt::endl;
        return 2;
    }
    bool ok = false;
    const int id = args[1].trimmed().toInt(&ok);
    if (!ok || id <= 0) {
        context.err << "braskon-cli service delete: \"" << args[1] << "\" ist keine g\u00fcltige ID" << Qt::endl;
        return 2;
    }
    try {
        TBRASKDataModule module(context.databaseDir.isEmpty() ? TBRASKDataModule::DefaultDatabaseDirectory()
                                                              : context.databaseDir);
        if (!module.DeleteService(id)) {
            context.err << "braskon-cli service delete: keine Behandlung mit der ID " << id << Qt::endl;
            return 1;
        }
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli service delete: " << error.message() << Qt::endl;
        return 1;
    }
}

const Cli::CommandRegistration registration("service", "service delete ID    eine Aufzeichnung l\u00f6schen", service);

} // namespace
