// braskon-cli battery add|list|delete|history: the battery records. Changes
// go through a record store of this command's own; the list is the data
// module's battery list; the history reads the treatments' step rows.

#include "cli/Command.h"

#include "database/BatteryHistory.h"
#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"
#include "database/Texts.h"

#include <QHash>
#include <optional>

namespace {

// Options of the form --name VALUE; a missing value or an unknown name is an error.
std::optional<QHash<QString, QString>> parseOptions(const QStringList &args, const QStringList &known,
                                                    Cli::Context &context)
{
    QHash<QString, QString> options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &name = args[i];
        if (!known.contains(name)) {
            context.err << "braskon-cli battery add: unbekannte Angabe " << name << Qt::endl;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            context.err << "braskon-cli battery add: " << name << " ohne Wert" << Qt::endl;
            return std::nullopt;
        }
        options.insert(name, args[++i]);
    }
    return options;
}

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
    const auto options = parseOptions(
        args, {"--id", "--capacity", "--type", "--cells", "--form", "--brand"}, context);
    if (!options)
        return 2;
    for (const char *required : {"--capacity", "--type", "--cells"}) {
        if (!options->contains(QLatin1String(required))) {
            context.err << "braskon-cli battery add: " << required << " fehlt" << Qt::endl;
            return 2;
        }
    }
    TBRASKDataModule::Battery battery;
    // The chargers and the logger take the capacity as 16 bits and the cell
    // count as 8 bits; a battery outside that could never be treated.
    const auto capacity = parseNumber(options->value("--capacity"), "--capacity", 1, 65535, context);
    const auto cells = parseNumber(options->value("--cells"), "--cells", 1, 255, context);
    const auto form = parseNumber(options->value("--form", "0"), "--form", 0, 5, context);
    if (!capacity || !cells || !form)
        return 2;
    const QString typeText = options->value("--type");
    battery.Type = -1;
    for (int type = 0; type <= 2; ++type) {
        if (typeText.compare(TypeName(type), Qt::CaseInsensitive) == 0)
            battery.Type = type;
    }
    if (battery.Type < 0) {
        context.err << "braskon-cli battery add: --type \"" << typeText << "\" ist nicht NC, NMH oder Blei"
                    << Qt::endl;
        return 2;
    }
    battery.Capacity = *capacity;
    battery.Cells = *cells;
    battery.Form = *form;
    battery.Brand = options->value("--brand");
    if (battery.Brand.size() > 50) {
        context.err << "braskon-cli battery add: --brand ist l\u00e4nger als 50 Zeichen" << Qt::endl;
        return 2;
    }
    const QString problem = OneLineProblem(battery.Brand, QStringLiteral("--brand"));
    if (!problem.isEmpty()) {
        context.err << "braskon-cli battery add: " << problem << Qt::endl;
        return 2;
    }
    std::optional<int> typedID;
    if (options->contains("--id")) {
        typedID = parseNumber(options->value("--id"), "--id", 1, 2147483647, context);
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
    if (!args.isEmpty()) {
        context.err << "braskon-cli battery list: unerwartete Angabe " << args.first() << Qt::endl;
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
    if (args.size() != 1) {
        context.err << "braskon-cli battery delete: genau eine ID erwartet" << Qt::endl;
        return 2;
    }
    const auto id = parseNumber(args.first(), "ID", 1, 2147483647, context);
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
    QString idText;
    QString format = QStringLiteral("text");
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--format") && i + 1 < args.size()) {
            format = args[++i];
        } else if (!args[i].startsWith(QLatin1String("--")) && idText.isEmpty()) {
            idText = args[i];
        } else {
            context.err << "braskon-cli battery history: unerwartete Angabe " << args[i] << '\n' << usage << Qt::endl;
            return 2;
        }
    }
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
    const QString sub = args.value(0);
    if (sub == QLatin1String("add"))
        return batteryAdd(args.mid(1), context);
    if (sub == QLatin1String("list"))
        return batteryList(args.mid(1), context);
    if (sub == QLatin1String("delete"))
        return batteryDelete(args.mid(1), context);
    if (sub == QLatin1String("history"))
        return batteryHistory(args.mid(1), context);
    context.err << "braskon-cli battery: add, list, delete oder history erwartet" << Qt::endl;
    return 2;
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
