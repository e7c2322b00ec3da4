// braskon-cli battery add|list|delete|history: the battery records. Changes
// go through a record store of this command's own; the list is the data
// module's battery list; the history reads the treatments' step rows.

#include "cli/Arguments.h"
#include "cli/Command.h"

#include "database/BatteryHistory.h"
#include "database/Datamodule.h"
#include "database/MainCommands.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"
#include "database/Texts.h"

#include <optional>

namespace {

std::optional<int> parseNumber(const QString &text, const QString &option, int minimum, int maximum,
                               Cli::Context &context)
{
    QString error;
    const std::optional<int> value = Cli::OptionNumber(text, option, minimum, maximum, error);
    if (!value)
        context.err << "braskon-cli: " << error << Qt::endl;
    return value;
}

int batteryAdd(const QStringList &args, Cli::Context &context)
{
    const QCommandLineOption idOption(QStringLiteral("id"), QString(), QStringLiteral("N"));
    const QCommandLineOption capacityOption(QStringLiteral("capacity"), QString(), QStringLiteral("MAH"));
    const QCommandLineOption typeOption(QStringLiteral("type"), QString(), QStringLiteral("NC|NMH|Blei"));
    const QCommandLineOption cellsOption(QStringLiteral("cells"), QString(), QStringLiteral("N"));
    const QCommandLineOption formOption(QStringLiteral("form"), QString(), QStringLiteral("0..5"));
    const QCommandLineOption brandOption(QStringLiteral("brand"), QString(), QStringLiteral("TEXT"));
    Cli::Arguments arguments({idOption, capacityOption, typeOption, cellsOption, formOption, brandOption});
    switch (arguments.Read(args)) {
    case Cli::Arguments::Outcome::Help:
        return Cli::ShowHelp(context);
    case Cli::Arguments::Outcome::Wrong:
        context.err << "braskon-cli battery add: "
                    << (arguments.MissingValue() ? arguments.Wrong() + QStringLiteral(" ohne Wert")
                                                 : QStringLiteral("unbekannte Angabe ") + arguments.Wrong())
                    << Qt::endl;
        return 2;
    case Cli::Arguments::Outcome::Read:
        break;
    }
    for (const QCommandLineOption *required : {&capacityOption, &typeOption, &cellsOption}) {
        if (!arguments.IsSet(*required)) {
            context.err << "braskon-cli battery add: --" << required->names().first() << " fehlt" << Qt::endl;
            return 2;
        }
    }
    TBRASKDataModule::Battery battery;
    // The chargers and the logger take the capacity as 16 bits and the cell
    // count as 8 bits; a battery outside that could never be treated.
    const auto capacity = parseNumber(arguments.Value(capacityOption), "--capacity", 1, 65535, context);
    const auto cells = parseNumber(arguments.Value(cellsOption), "--cells", 1, 255, context);
    const auto form = parseNumber(arguments.IsSet(formOption) ? arguments.Value(formOption) : QStringLiteral("0"),
                                  "--form", 0, 5, context);
    if (!capacity || !cells || !form)
        return 2;
    const QString typeText = arguments.Value(typeOption);
    const std::optional<int> type = MainCommands::TypeFromName(typeText);
    if (!type) {
        context.err << "braskon-cli battery add: --type \"" << typeText << "\" ist nicht NC, NMH oder Blei"
                    << Qt::endl;
        return 2;
    }
    battery.Type = *type;
    battery.Capacity = *capacity;
    battery.Cells = *cells;
    battery.Form = *form;
    battery.Brand = arguments.Value(brandOption);
    const QString problem = MainCommands::DescriptionProblem(battery.Brand, QStringLiteral("--brand"));
    if (!problem.isEmpty()) {
        context.err << "braskon-cli battery add: " << problem << Qt::endl;
        return 2;
    }
    std::optional<int> typedID;
    if (arguments.IsSet(idOption)) {
        typedID = parseNumber(arguments.Value(idOption), "--id", 1, 2147483647, context);
        if (!typedID)
            return 2;
    }

    try {
        RecordStore records(context.Database());
        // Without --id the counter's ID, taken where the row is stored, so
        // that several programs adding at once all get one of their own.
        battery.ID = typedID ? *typedID : 0;
        records.AddBattery(battery, 0);
        context.out << battery.ID << Qt::endl;
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli battery add: " << error.message() << Qt::endl;
        return 1;
    }
}

int batteryList(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({});
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    if (outcome == Cli::Arguments::Outcome::Wrong) {
        context.err << "braskon-cli battery list: unerwartete Angabe " << arguments.Wrong() << Qt::endl;
        return 2;
    }
    try {
        TBRASKDataModule module(context.Database());
        const QueryModel *list = module.BatteryQuery();
        for (int row = 0; row < list->rowCount(); ++row) {
            QStringList fields;
            for (const char *column : {"F_ID", "F_Capacity", "F_TypeString", "F_Cells", "F_FormString", "F_Voltage",
                                       "F_Brand"})
                fields << OneLine(list->displayText(row, QLatin1String(column)));
            context.out << fields.join(QLatin1Char('\t')) << '\n';
        }
        context.out.flush();
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli battery list: " << error.message() << Qt::endl;
        return 1;
    }
}

int batteryDelete(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({}, 1);
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    if (outcome == Cli::Arguments::Outcome::Wrong || arguments.Positional().size() != 1) {
        context.err << "braskon-cli battery delete: genau eine ID erwartet" << Qt::endl;
        return 2;
    }
    const auto id = parseNumber(arguments.Positional().first(), "ID", 1, 2147483647, context);
    if (!id)
        return 2;
    try {
        RecordStore records(context.Database());
        if (!records.DeleteBattery(*id)) {
            context.err << "braskon-cli battery delete: kein Akku mit der ID " << *id << Qt::endl;
            return 1;
        }
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli battery delete: " << error.message() << Qt::endl;
        return 1;
    }
}

// battery history ID [--format text|csv]
int batteryHistory(const QStringList &args, Cli::Context &context)
{
    const char *const usage = "Aufruf: braskon-cli battery history ID [--format text|csv]";
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(), QStringLiteral("text|csv"));
    Cli::Arguments arguments({formatOption}, 1);
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    if (outcome == Cli::Arguments::Outcome::Wrong) {
        context.err << "braskon-cli battery history: unerwartete Angabe " << arguments.Wrong() << '\n' << usage
                    << Qt::endl;
        return 2;
    }
    const QString format = arguments.IsSet(formatOption) ? arguments.Value(formatOption) : QStringLiteral("text");
    const QString idText = arguments.Positional().value(0);
    if (format != QLatin1String("text") && format != QLatin1String("csv")) {
        context.err << "braskon-cli battery history: --format \"" << format << "\" ist nicht text oder csv" << Qt::endl;
        return 2;
    }
    if (idText.isEmpty()) {
        context.err << usage << Qt::endl;
        return 2;
    }
    const auto id = parseNumber(idText, "ID", 1, 2147483647, context);
    if (!id)
        return 2;
    try {
        RecordReader reader(std::make_shared<SqlStore>(context.Database()));
        BatteryHistory history;
        if (!ReadBatteryHistory(reader, *id, history)) {
            context.err << "braskon-cli battery history: kein Akku mit der ID " << *id << Qt::endl;
            return 1;
        }
        context.out << (format == QLatin1String("csv") ? HistoryCsv(history) : HistoryText(history));
        context.out.flush();
        return 0;
    } catch (const DatabaseError &error) {
        context.err << "braskon-cli battery history: " << error.message() << Qt::endl;
        return 1;
    }
}

int battery(const QStringList &args, Cli::Context &context)
{
    return Cli::RunSubCommand(args, context,
                              {{"add", batteryAdd}, {"list", batteryList}, {"delete", batteryDelete},
                               {"history", batteryHistory}},
                              "braskon-cli battery: add, list, delete oder history erwartet");
}

const Cli::CommandRegistration registration(
    "battery",
    "battery add [--id N] --capacity MAH --type NC|NMH|Blei --cells N [--form 0..5] [--brand TEXT]\n"
    "                       einen Akku anlegen (gibt seine ID aus)\n"
    "  battery list         alle Akkus: ID, Kapazit\u00e4t, Typ, Zellen, Bauform, Spannung, Bezeichnung\n"
    "  battery delete ID    einen Akku mit seinen Aufzeichnungen l\u00f6schen\n"
    "  battery history ID [--format text|csv]\n"
    "                       Verlauf eines Akkus: je Behandlung geladene und entladene Kapazit\u00e4t\n"
    "                       (mAh und Anteil der Nennkapazit\u00e4t), Ergebnis, Zustand und Trend",
    battery);

} // namespace
