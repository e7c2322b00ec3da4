#include "mainwindow/PrintWork.h"

#include "mainwindow/PdfTarget.h"

#include "export/Richie.h"

#include <QIODevice>
#include <QPrinter>
#include <QStringList>

namespace PrintWork {

namespace {

// Lines looked at between two looks at the cancel flag and two progress reports.
constexpr int LinesPerSlice = 256;

// Text written to it comes out as lines ending in CR LF.
class LineDevice : public QIODevice {
public:
    explicit LineDevice(const LineSink &sink) : sink_(sink) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        pending_.append(data, size);
        qsizetype start = 0;
        for (qsizetype end = pending_.indexOf("\r\n", start); end >= 0; end = pending_.indexOf("\r\n", start)) {
            sink_(QString::fromUtf8(pending_.constData() + start, end - start));
            start = end + 2;
        }
        pending_.remove(0, start);
        return size;
    }

private:
    const LineSink &sink_;
    QByteArray pending_;
};

void PrintLines(QPrinter &printer, const QString &fontFamily, int fontPointSize, const LineSource &lines,
                const StreamedExport::Job &job)
{
    RichiePrinter::Pages pages(printer, RichiePrinter::ScaledPageRect(printer), fontFamily, fontPointSize);
    qint64 count = 0;
    lines(
        [&](const QString &line) {
            if (++count % LinesPerSlice == 0 && job.cancel && job.cancel->load())
                throw StreamedExport::Cancelled();
            pages.Line(line);
        },
        job);
    if (job.cancel && job.cancel->load())
        throw StreamedExport::Cancelled();
    pages.Finish();
}

} // namespace

LineSource LinesOf(const Richie &buffer)
{
    return [lines = buffer.Lines()](const LineSink &sink, const StreamedExport::Job &job) {
        const qint64 total = lines.size();
        for (qint64 i = 0; i < total; ++i) {
            sink(lines.at(i));
            if (job.progress && (i + 1) % LinesPerSlice == 0)
                job.progress(i + 1, total);
        }
    };
}

LineSource ProtocolLines(std::shared_ptr<SqlStore> store, int serviceID)
{
    return [store = std::move(store), serviceID](const LineSink &sink, const StreamedExport::Job &job) {
        LineDevice device(sink);
        StreamedExport::WriteProtocol(*store, serviceID, Richie::Format::PlainText, QString(), 0, device, job);
    };
}

void Print(const RichiePrinter::PrinterChoices &choices, const QString &fontFamily, int fontPointSize,
           const LineSource &lines, const StreamedExport::Job &job)
{
    // The page rectangle is in printer pixels; a printer left at screen
    // resolution would put it far off its intended place.
    auto setUp = [&](QPrinter &printer) {
        choices.ApplyTo(printer);
        if (printer.resolution() < 300)
            printer.setResolution(600);
        printer.setDocName(QString());
    };
    if (choices.format == QPrinter::PdfFormat) {
        PdfTarget::SaveVia(choices.outputFileName, setUp,
                           [&](QPrinter &printer) { PrintLines(printer, fontFamily, fontPointSize, lines, job); });
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    setUp(printer);
    PrintLines(printer, fontFamily, fontPointSize, lines, job);
}

void SavePdf(const QString &fileName, const QString &title, const QString &fontFamily, int fontPointSize,
             const LineSource &lines, const StreamedExport::Job &job)
{
    PdfTarget::Save(fileName, title,
                    [&](QPrinter &printer) { PrintLines(printer, fontFamily, fontPointSize, lines, job); });
}

} // namespace PrintWork
