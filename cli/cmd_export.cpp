// braskon-cli export: the battery label, the measurement protocol and the
// three lists as text or RTF, built exactly as the main window builds them.

#include "cli/Arguments.h"
#include "cli/Command.h"

#include <functional>

#include "export/ExportBuilders.h"
#include "export/Richie.h"
#include "export/SamplesCsv.h"
#include "export/StreamedExport.h"
#include "database/Datamodule.h"
#include "database/SqlStore.h"
#include "database/Texts.h"

#include <QFile>
#include <exception>

namespace {

const char *const usageText =
    "Aufruf: braskon-cli export label AKKU_ID | protocol AUFZEICHNUNG_ID | batteries | services AKKU_ID |"
    " steps AUFZEICHNUNG_ID [--rtf] [-o DATEI] | samples --service AUFZEICHNUNG_ID [--format standard|deutsch]"
    " [-o DATEI]";
const char *const samplesUsageText =
    "Aufruf: braskon-cli export samples --service AUFZEICHNUNG_ID [--format standard|deutsch] [-o DATEI]";

bool parseID(const QString &text, int &id)
{
    id = WholeNumber(text).value_or(0);
    return id > 0;
}

// Selects the battery in the battery list, which narrows the treatment list to it.
bool selectBattery(TBRASKDataModule &data, int batteryID)
{
    data.ReopenBatteries(batteryID);
    return data.SelectedBatteryID() == batteryID;
}

// Selects the treatment (and its battery), which narrows the step list to it.
bool selectService(TBRASKDataModule &data, int serviceID)
{
    TBRASKDataModule::Service service;
    service.ID = serviceID;
    if (!data.LoadService(service) || !selectBattery(data, service.BatteryID))
        return false;
    data.ReopenServices(serviceID);
    return data.SelectedServiceID() == serviceID;
}

enum class Built { Done, NotFound, BadCall };

// Whether the call names an export and its ID, before the database is opened.
bool wellFormed(const QString &what, const QStringList &ids)
{
    int id = 0;
    if (what == QLatin1String("batteries"))
        return ids.isEmpty();
    static const QStringList withID = {QStringLiteral("label"), QStringLiteral("services"), QStringLiteral("protocol"),
                                       QStringLiteral("steps")};
    return withID.contains(what) && ids.size() == 1 && parseID(ids.first(), id);
}

// Fills the buffer for a well-formed call; NotFound (with a message) when the
// record does not exist.
Built build(const QString &what, const QStringList &ids, TBRASKDataModule &data, Richie &buffer,
            Cli::Context &context)
{
    using namespace ExportBuilders;
    if (what == QLatin1String("batteries")) {
        data.ReopenBatteries(0);
        BuildTable(*data.BatteryQuery(), ColumnIndexes(*data.BatteryQuery(), BatteryListColumns()), buffer);
        return Built::Done;
    }
    int id = 0;
    parseID(ids.first(), id);
    if (what == QLatin1String("label") || what == QLatin1String("services")) {
        if (!selectBattery(data, id)) {
            context.err << "braskon-cli export: Akku " << id << " gibt es nicht" << Qt::endl;
            return Built::NotFound;
        }
        if (what == QLatin1String("label"))
            BuildSelectedLabel(data, buffer);
        else
            BuildTable(*data.ServiceQuery(), ColumnIndexes(*data.ServiceQuery(), ServiceListColumns()), buffer);
        return Built::Done;
    }
    if (!selectService(data, id)) {
        context.err << "braskon-cli export: Aufzeichnung " << id << " gibt es nicht" << Qt::endl;
        return Built::NotFound;
    }
    if (what == QLatin1String("protocol"))
        BuildProtocol(data, id, buffer);
    else
        BuildTable(*data.SubServiceQuery(), ColumnIndexes(*data.SubServiceQuery(), StepListColumns()), buffer);
    return Built::Done;
}

void writeToStandardOutput(Cli::Context &context, const QByteArray &content)
{
    context.out.flush();
    QFile standardOutput;
    if (!(standardOutput.open(stdout, QIODevice::WriteOnly) && standardOutput.write(content) == content.size()
          && standardOutput.flush()))
        throw ExportError(QStringLiteral("Die Standardausgabe ist nicht beschreibbar."));
}

// Runs one export; a failure is the command's message and status 1.
int runExport(Cli::Context &context, const std::function<int()> &work)
{
    try {
        return work();
    } catch (const ExportError &error) {
        context.err << "braskon-cli export: " << error.message() << Qt::endl;
    } catch (const std::exception &error) {
        context.err << "braskon-cli export: " << QString::fromStdString(error.what()) << Qt::endl;
    }
    return 1;
}

void openStandardOutput(Cli::Context &context, QFile &output)
{
    context.out.flush();
    if (!output.open(stdout, QIODevice::WriteOnly))
        throw ExportError(QStringLiteral("Die Standardausgabe ist nicht beschreibbar."));
}

void finishStandardOutput(QFile &output)
{
    if (!output.flush())
        throw ExportError(QStringLiteral("Die Standardausgabe ist nicht beschreibbar."));
}

// A treatment's recording streamed to the file, or to standard output when
// none is named; 1 with a message when the treatment does not exist.
using StreamTo = std::function<void(SqlStore &store, QIODevice &out)>;
using SaveAs = std::function<void(SqlStore &store, const QString &fileName)>;
int streamRecording(int id, const QString &outputFile, const StreamTo &write, const SaveAs &save,
                    Cli::Context &context)
{
    return runExport(context, [&] {
        TBRASKDataModule data(context.Database());
        TBRASKDataModule::Service service;
        service.ID = id;
        if (!data.LoadService(service)) {
            context.err << "braskon-cli export: Aufzeichnung " << id << " gibt es nicht" << Qt::endl;
            return 1;
        }
        SqlStore &store = data.Reader().Store();
        if (!outputFile.isEmpty()) {
            save(store, outputFile);
        } else {
            QFile output;
            openStandardOutput(context, output);
            write(store, output);
            finishStandardOutput(output);
        }
        return 0;
    });
}

// export protocol ID [--rtf] [-o FILE]: streamed, however long the recording.
int exportProtocol(const QString &idText, const QString &outputFile, bool rtf, Cli::Context &context)
{
    int id = 0;
    parseID(idText, id);
    const Richie font;
    const Richie::Format format = rtf ? Richie::Format::Rtf : Richie::Format::PlainText;
    return streamRecording(
        id, outputFile,
        [&](SqlStore &store, QIODevice &out) {
            StreamedExport::WriteProtocol(store, id, format, font.FontFamily(), font.FontPointSize(), out);
        },
        [&](SqlStore &store, const QString &fileName) {
            StreamedExport::SaveProtocol(store, id, format, font.FontFamily(), font.FontPointSize(), fileName);
        },
        context);
}

// export samples --service ID [--format standard|deutsch] [-o FILE]: the
// treatment's samples as CSV. The ID also as a plain word, but only once.
int exportSamples(const QStringList &ids, const QStringList &services, const QStringList &formats,
                  const QString &outputFile, Cli::Context &context)
{
    int id = 0;
    CsvWriter::Form form = CsvWriter::Form::Standard;
    bool wellFormed = ids.size() + services.size() == 1;
    for (const QString &name : formats) {
        if (name == QLatin1String("deutsch"))
            form = CsvWriter::Form::German;
        else if (name == QLatin1String("standard"))
            form = CsvWriter::Form::Standard;
        else
            wellFormed = false;
    }
    if (!wellFormed || !parseID((ids + services).first(), id)) {
        context.err << samplesUsageText << Qt::endl;
        return 2;
    }
    return streamRecording(
        id, outputFile,
        [&](SqlStore &store, QIODevice &out) { StreamedExport::WriteSamplesCsv(store, id, out, form); },
        [&](SqlStore &store, const QString &fileName) { StreamedExport::SaveSamplesCsv(store, id, fileName, form); },
        context);
}

int exportCommand(const QStringList &args, Cli::Context &context)
{
    const QCommandLineOption rtfOption(QStringLiteral("rtf"));
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                          QStringLiteral("DATEI"));
    const QCommandLineOption serviceOption(QStringLiteral("service"), QString(), QStringLiteral("AUFZEICHNUNG_ID"));
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(), QStringLiteral("standard|deutsch"));
    Cli::Arguments arguments({rtfOption, outputOption, serviceOption, formatOption}, 2);
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    const QStringList positional = arguments.Positional();
    const bool samples = positional.value(0) == QLatin1String("samples");
    if (outcome == Cli::Arguments::Outcome::Wrong || positional.isEmpty()
        || (samples && arguments.IsSet(rtfOption))
        || (!samples && (arguments.IsSet(serviceOption) || arguments.IsSet(formatOption)))) {
        context.err << (samples ? samplesUsageText : usageText) << Qt::endl;
        return 2;
    }
    const bool rtf = arguments.IsSet(rtfOption);
    const QString outputFile = arguments.Value(outputOption);
    if (samples)
        return exportSamples(positional.mid(1), arguments.Values(serviceOption), arguments.Values(formatOption),
                             outputFile, context);

    if (!wellFormed(positional.first(), positional.mid(1))) {
        context.err << usageText << Qt::endl;
        return 2;
    }
    if (positional.first() == QLatin1String("protocol"))
        return exportProtocol(positional.at(1), outputFile, rtf, context);
    return runExport(context, [&] {
        TBRASKDataModule data(context.Database());
        Richie buffer;
        if (build(positional.first(), positional.mid(1), data, buffer, context) == Built::NotFound)
            return 1;
        if (!outputFile.isEmpty())
            buffer.SaveToFile(outputFile, rtf ? Richie::Format::Rtf : Richie::Format::PlainText);
        else
            writeToStandardOutput(context, rtf ? buffer.Rtf() : buffer.PlainText().toUtf8());
        return 0;
    });
}

static const Cli::CommandRegistration registration(
    "export",
    "export label|services AKKU_ID [--rtf] [-o DATEI]\n"
    "                       Etikett oder Aufzeichnungsliste eines Akkus als Text (Zeilen mit\n"
    "                       CR LF) oder RTF\n"
    "  export protocol|steps AUFZEICHNUNG_ID [--rtf] [-o DATEI]\n"
    "                       Me\u00dfprotokoll oder Schrittliste einer Aufzeichnung\n"
    "  export batteries [--rtf] [-o DATEI]\n"
    "                       die Akkuliste\n"
    "  export samples --service AUFZEICHNUNG_ID [--format standard|deutsch] [-o DATEI]\n"
    "                       die Messwerte einer Aufzeichnung als CSV (Zeit, Schritt, Funktion,\n"
    "                       Spannung in V, Strom in A, Kapazit\u00e4t in mAh); standard: RFC 4180,\n"
    "                       Komma und Dezimalpunkt; deutsch: f\u00fcr deutsche Tabellenkalkulation,\n"
    "                       Semikolon, Dezimalkomma, UTF-8 mit BOM",
    exportCommand);

} // namespace
