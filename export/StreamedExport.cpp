#include "export/StreamedExport.h"

#include "export/ExportBuilders.h"
#include "export/SamplesCsv.h"

#include "database/SampleRows.h"
#include "database/SqlStore.h"
#include "database/StoreDialect.h"
#include "database/Texts.h"

#include <QIODevice>
#include <QLocale>
#include <QSaveFile>
#include <QSqlQuery>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace StreamedExport {

namespace {

constexpr int ChunkBytes = 256 * 1024;

// A whole number in decimal digits, without the temporary array that
// QByteArray::number makes: written millions of times per export.
void AppendNumber(QByteArray &out, long long value)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<qsizetype>(written.ptr - digits));
}

// Thousandths as the shortest decimal, as FloatText(value * 0.001) writes
// them (the values of a charger never reach a group separator).
void AppendMilli(QByteArray &out, int value, char decimalPoint, const QByteArray &minus)
{
    qint64 magnitude = value;
    if (magnitude < 0) {
        out += minus;
        magnitude = -magnitude;
    }
    AppendNumber(out, magnitude / 1000);
    int fraction = int(magnitude % 1000);
    if (fraction == 0)
        return;
    char digits[4] = {char('0' + fraction / 100), char('0' + fraction / 10 % 10), char('0' + fraction % 10), 0};
    int length = 3;
    while (digits[length - 1] == '0')
        --length;
    out += decimalPoint;
    out.append(digits, length);
}

// Writes what the chunk holds and empties it; stops when asked to.
class Chunks {
public:
    Chunks(QIODevice &out, const Job &job, qint64 total) : out_(out), job_(job), total_(total)
    {
        buffer_.reserve(ChunkBytes + 256);
    }
    QByteArray &buffer() { return buffer_; }
    void rowDone()
    {
        ++rows_;
        if (buffer_.size() >= ChunkBytes)
            flush();
    }
    void flush()
    {
        if (job_.cancel && job_.cancel->load())
            throw Cancelled();
        if (!buffer_.isEmpty() && out_.write(buffer_) != buffer_.size())
            throw ExportError(QStringLiteral("Die Datei kann nicht geschrieben werden: %1").arg(out_.errorString()));
        buffer_.resize(0);   // keeps the room; clear() would give it back
        if (job_.progress)
            job_.progress(rows_, total_);
    }

private:
    QIODevice &out_;
    const Job &job_;
    qint64 total_;
    qint64 rows_ = 0;
    QByteArray buffer_;
};

qint64 SampleCount(SqlStore &store, int serviceID)
{
    QSqlQuery count = store.exec(QStringLiteral("SELECT COUNT(*) FROM samples WHERE F_ServiceID = ?"), {serviceID});
    return count.next() ? count.value(0).toLongLong() : 0;
}

// The functions of the treatment's steps by step number (a treatment has a
// handful): looked up per sample instead of joined by the query.
std::map<int, int> StepFunctions(SqlStore &store, int serviceID)
{
    std::map<int, int> functions;
    QSqlQuery steps = store.exec(QStringLiteral("SELECT F_Step, F_Function FROM sub WHERE F_ServiceID = ?"),
                                 {serviceID});
    while (steps.next())
        functions[steps.value(0).toInt()] = steps.value(1).toInt();
    return functions;
}

template <class Write>
void SaveTo(const QString &fileName, Write write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2")
                              .arg(fileName, file.errorString()));
    try {
        write(file);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

} // namespace

void WriteProtocol(SqlStore &store, int serviceID, Richie::Format format, const QString &fontFamily,
                   int fontPointSize, QIODevice &out, const Job &job)
{
    const bool rtf = format == Richie::Format::Rtf;
    Chunks chunks(out, job, SampleCount(store, serviceID));
    QByteArray &text = chunks.buffer();
    const std::map<int, int> stepFunctions = StepFunctions(store, serviceID);
    SampleRows rows(store, serviceID);
    QLocale locale = QLocale::system();
    const QString point = locale.decimalPoint();
    const QString minusSign = locale.negativeSign();
    const char decimalPoint = point.size() == 1 && point.at(0).unicode() < 0x80 ? char(point.at(0).unicode()) : '.';
    const QByteArray minus = rtf ? Richie::RtfEscaped(minusSign) : minusSign.toUtf8();
    const QByteArray tab = rtf ? QByteArrayLiteral("\\tab ") : QByteArrayLiteral("\t");
    const QByteArray lineEnd = rtf ? QByteArrayLiteral("\\par\r\n") : QByteArrayLiteral("\r\n");
    QByteArray functions[3];
    for (int function = 0; function < 3; ++function)
        functions[function] = rtf ? Richie::RtfEscaped(FunctionName(function)) : FunctionName(function).toUtf8();

    bool first = true;
    int lastStep = -1;
    const QByteArray *function = nullptr;
    QByteArray otherFunction;
    while (rows.next()) {
        const int step = rows.step;
        if (step != lastStep) {
            lastStep = step;
            const auto found = stepFunctions.find(step);
            if (found == stepFunctions.end()) {
                function = nullptr;
            } else if (found->second >= 0 && found->second < 3) {
                function = &functions[found->second];
            } else {
                otherFunction = rtf ? Richie::RtfEscaped(FunctionName(found->second))
                                    : FunctionName(found->second).toUtf8();
                function = &otherFunction;
            }
        }
        // A sample without its step row is left out, as the protocol always did.
        if (!function)
            continue;
        if (first) {
            // An empty protocol is an empty buffer: no header either.
            Richie header;
            header.SetFont(fontFamily, fontPointSize);
            if (rtf)
                text += Richie::RtfHead(header.FontFamily(), header.FontPointSize());
            text += (rtf ? Richie::RtfEscaped(ExportBuilders::ProtocolHeader())
                         : ExportBuilders::ProtocolHeader().toUtf8())
                    + lineEnd;
            first = false;
        }
        AppendNumber(text, rows.time);
        text += tab;
        AppendMilli(text, rows.voltage, decimalPoint, minus);
        text += tab;
        AppendMilli(text, rows.current, decimalPoint, minus);
        text += tab;
        text += *function;
        text += lineEnd;
        chunks.rowDone();
    }
    if (rtf && !first)
        text += Richie::RtfTail();
    else if (rtf)
        text += Richie::RtfHead(fontFamily.isEmpty() ? Richie().FontFamily() : fontFamily,
                                fontPointSize > 0 ? fontPointSize : Richie().FontPointSize())
                + Richie::RtfTail();
    chunks.flush();
}

void WriteSamplesCsv(SqlStore &store, int serviceID, QIODevice &out, CsvWriter::Form form, const Job &job)
{
    Chunks chunks(out, job, SampleCount(store, serviceID));
    QByteArray &csv = chunks.buffer();
    const CsvWriter writer(form);
    csv += writer.Start() + writer.Row(SamplesCsv::Header());
    // Numbers never hold the separator: only the function may need quotes.
    const char separator = char(writer.Separator().unicode());
    const char decimal = form == CsvWriter::Form::German ? ',' : '.';
    const std::map<int, int> stepFunctions = StepFunctions(store, serviceID);
    SampleRows rows(store, serviceID);
    int currentStep = -1, lastTime = 0, lastCurrent = 0;
    QByteArray function;
    double milliampSeconds = 0;
    while (rows.next()) {
        const int step = rows.step;
        const int time = rows.time;
        const int current = rows.current;
        if (step != currentStep) {
            currentStep = step;
            milliampSeconds = 0;
            const auto found = stepFunctions.find(step);
            function = found == stepFunctions.end() ? QByteArray()
                                                    : writer.Field(FunctionName(found->second)).toUtf8();
        } else {
            milliampSeconds += 0.5 * (std::abs(lastCurrent) + std::abs(current)) * (time - lastTime);
        }
        lastTime = time;
        lastCurrent = current;
        AppendNumber(csv, time);
        csv += separator;
        AppendNumber(csv, step);
        csv += separator;
        csv += function;
        csv += separator;
        AppendMilli(csv, rows.voltage, decimal, QByteArrayLiteral("-"));
        csv += separator;
        AppendMilli(csv, current, decimal, QByteArrayLiteral("-"));
        csv += separator;
        AppendNumber(csv, std::llround(milliampSeconds / 3600.0));
        csv += "\r\n";
        chunks.rowDone();
    }
    chunks.flush();
}

void SaveProtocol(SqlStore &store, int serviceID, Richie::Format format, const QString &fontFamily,
                  int fontPointSize, const QString &fileName, const Job &job)
{
    SaveTo(fileName, [&](QIODevice &file) {
        WriteProtocol(store, serviceID, format, fontFamily, fontPointSize, file, job);
    });
}

void SaveSamplesCsv(SqlStore &store, int serviceID, const QString &fileName, CsvWriter::Form form, const Job &job)
{
    SaveTo(fileName, [&](QIODevice &file) { WriteSamplesCsv(store, serviceID, file, form, job); });
}

} // namespace StreamedExport
