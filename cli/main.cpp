// braskon-cli: the headless front end over Braskon's libraries.
//   braskon-cli [--database DIR] COMMAND [ARGS...]

#include "Command.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("braskon"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = app.arguments().mid(1);
    Cli::Context context{QString(), out, err};
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--database") && !args.isEmpty()) {
            context.databaseDir = args.takeFirst();
        } else if (option == QLatin1String("--help")) {
            args.clear();
            break;
        } else {
            err << "braskon-cli: unknown option " << option << Qt::endl;
            return 2;
        }
    }

    if (!args.isEmpty()) {
        const QString name = args.takeFirst();
        for (const Cli::CommandInfo &command : Cli::registeredCommands()) {
            if (command.name == name) {
                const int status = command.function(args, context);
                out.flush();
                err.flush();
                return status;
            }
        }
        err << "braskon-cli: unknown command " << name << Qt::endl;
    }

    err << "usage: braskon-cli [--database DIR] COMMAND [ARGS...]\ncommands:\n";
    for (const Cli::CommandInfo &command : Cli::registeredCommands())
        err << "  " << command.usage << "\n";
    err.flush();
    return 2;
}
