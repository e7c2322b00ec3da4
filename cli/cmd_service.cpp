// braskon-cli service delete ID: a treatment with its steps and samples.
// braskon-cli service list [--battery ID]: the treatments with their state
// (läuft, unterbrochen, beendet).

#include "cli/Arguments.h"
#include "cli/Command.h"

#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "database/Texts.h"

namespace {

int serviceDelete(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({}, 1);
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    const QStringList words = arguments.Positional();
    const int id = WholeNumber(words.value(0)).value_or(0);
    if (outcome == Cli::Arguments::Outcome::Wrong || words.size() != 1 || id <= 0) {
        context.err << "braskon-cli service delete: \"" << args.join(' ') << "\" ist keine g\u00fcltige ID" << Qt::endl;
        return 2;
    }
    try {
        RecordStore records(context.Database());
        if (!records.DeleteService(id)) {
            context.err << "braskon-cli service delete: keine Behandlung mit der ID " << id << Qt::endl;
            return 1;
        }
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli service delete: " << error.message() << Qt::endl;
        return 1;
    }
}

QString StateText(TBRASKDataModule::RecordingState state)
{
    switch (state) {
    case TBRASKDataModule::RecordingState::Running: return QStringLiteral("l\u00e4uft");
    case TBRASKDataModule::RecordingState::Interrupted: return QStringLiteral("unterbrochen");
    case TBRASKDataModule::RecordingState::Ended: break;
    }
    return QStringLiteral("beendet");
}

// One line per treatment: ID, battery, date, time, program, state and, while
// registered, the terminal.
int serviceList(const QStringList &args, Cli::Context &context)
{
    const QCommandLineOption batteryOption(QStringLiteral("battery"), QString(), QStringLiteral("ID"));
    Cli::Arguments arguments({batteryOption});
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    // One battery at most; without --battery all of them (0).
    const QStringList typed = arguments.Values(batteryOption);
    const int battery = WholeNumber(typed.value(0, QStringLiteral("0"))).value_or(-1);
    if (outcome == Cli::Arguments::Outcome::Wrong || typed.size() > 1 || battery < 0
        || (typed.size() == 1 && battery == 0)) {
        context.err << "braskon-cli service list: \"--battery ID\" erwartet" << Qt::endl;
        return 2;
    }
    try {
        TBRASKDataModule module(context.Database());
        QMap<int, QString> terminals;
        for (const TBRASKDataModule::RunningTreatment &row : module.RunningTreatments())
            terminals.insert(row.ServiceID, row.Terminal);
        QueryModel *batteries = module.BatteryQuery();
        const QueryModel *services = module.ServiceQuery();
        bool found = battery == 0;
        for (int b = 0; b < batteries->rowCount(); ++b) {
            if (battery != 0 && batteries->value(b, QStringLiteral("F_ID")).toInt() != battery)
                continue;
            found = true;
            // The battery's treatments, as the treatment list shows them.
            batteries->setCurrentRow(b);
            for (int row = 0; row < services->rowCount(); ++row) {
                const int id = services->value(row, QStringLiteral("F_ID")).toInt();
                QStringList fields;
                fields << QString::number(id) << batteries->displayText(b, QStringLiteral("F_ID"))
                       << services->displayText(row, QStringLiteral("F_Date"))
                       << services->displayText(row, QStringLiteral("F_Time"))
                       << services->displayText(row, QStringLiteral("F_ProgramString"))
                       << StateText(module.StateOf(id));
                if (terminals.contains(id))
                    fields << terminals.value(id);
                context.out << fields.join(QLatin1Char('\t')) << '\n';
            }
        }
        context.out.flush();
        if (!found) {
            context.err << "braskon-cli service list: kein Akku mit der ID " << battery << Qt::endl;
            return 1;
        }
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli service list: " << error.message() << Qt::endl;
        return 1;
    }
}

int service(const QStringList &args, Cli::Context &context)
{
    return Cli::RunSubCommand(args, context, {{"delete", serviceDelete}, {"list", serviceList}},
                              "braskon-cli service: \"delete ID\" oder \"list [--battery ID]\" erwartet");
}

const Cli::CommandRegistration registration("service",
                                            "service delete ID    eine Aufzeichnung l\u00f6schen\n"
                                            "  service list [--battery ID]\n"
                                            "                       die Behandlungen mit ihrem Zustand",
                                            service);

} // namespace
