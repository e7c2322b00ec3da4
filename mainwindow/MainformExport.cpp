// The main window's export, print, clipboard and logger commands.

#include "mainwindow/Mainform.h"

#include "export/ExportBuilders.h"
#include "mainwindow/Kestrixdlg.h"
#include "export/ExportFile.h"
#include "mainwindow/PdfTarget.h"
#include "mainwindow/PrintWork.h"
#include "export/Richie.h"
#include "mainwindow/RichiePrinter.h"
#include "export/SamplesCsv.h"
#include "export/StreamedExport.h"

#include "database/Datamodule.h"
#include "database/SqlStore.h"

#include <QBuffer>
#include <QClipboard>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QTabWidget>
#include <QTableView>

#include <stdexcept>

namespace {

[[noreturn]] void NotAvailable(const char *command)
{
    throw std::logic_error(std::string(command) + ": nicht verfügbar");
}

// The model columns a grid shows, in the order it shows them.
QVector<int> VisibleColumns(const QTableView *grid)
{
    const QHeaderView *header = grid->horizontalHeader();
    QVector<int> columns;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            columns.append(logical);
    }
    return columns;
}

// The save dialog of the export commands keeps the filter chosen last on the
// window, so the next export offers it again.
const char *const LastExportFilter = "lastExportFilter";

// The file and filter the user chose in the export dialog; empty when cancelled.
std::pair<QString, QString> ChooseExportFile(TMainForm *window)
{
    QFileDialog dialog(window, QStringLiteral("Exportieren"));
    dialog.setDirectory(window->LastFolder(QStringLiteral("export")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(ExportFile::Filters());
    dialog.setDefaultSuffix(ExportFile::DefaultExtension());
    const QString lastFilter = window->property(LastExportFilter).toString();
    if (!lastFilter.isEmpty())
        dialog.selectNameFilter(lastFilter);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    window->setProperty(LastExportFilter, dialog.selectedNameFilter());
    window->RememberFolder(QStringLiteral("export"), dialog.selectedFiles().constFirst());
    return {dialog.selectedFiles().constFirst(), dialog.selectedNameFilter()};
}

void ExportBuffer(TMainForm *window, const Richie &buffer)
{
    const auto [file, filter] = ChooseExportFile(window);
    if (!file.isEmpty())
        ExportFile::Export(buffer, file, filter);
}

// The grid of the active page of the database area: "Akkus", "Aufzeichnungen"
// or, on any other page, "Teilschritte".
QTableView *ActiveGrid(const TMainForm &window)
{
    return window.ActiveList();
}

void BuildVisibleTable(const TMainForm &window, Richie &buffer)
{
    const QTableView *grid = ActiveGrid(window);
    if (!grid->model())
        NotAvailable("Tabelle");
    ExportBuilders::BuildTable(*grid->model(), VisibleColumns(grid), buffer);
}

TBRASKDataModule &Database(const TMainForm &window, const char *command)
{
    if (!window.DataModule())
        NotAvailable(command);
    return *window.DataModule();
}

void BuildLabel(const TMainForm &window, Richie &buffer)
{
    ExportBuilders::BuildSelectedLabel(Database(window, "Etikett"), buffer);
}

// The selected treatment's protocol, read by the work thread as it prints.
PrintWork::LineSource ProtocolLines(const TMainForm &window)
{
    TBRASKDataModule &database = Database(window, "Me\u00dfprotokoll");
    return PrintWork::ProtocolLines(database.SharedStore(), database.SelectedServiceID());
}

// The name for a PDF file, chosen in the save dialog; empty when cancelled.
QString ChoosePdfFile(TMainForm &window, const QString &name)
{
    QFileDialog dialog(&window, QStringLiteral("Als PDF speichern"));
    dialog.setDirectory(window.LastFolder(QStringLiteral("export")));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(PdfTarget::FileFilter());
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(name + QStringLiteral(".pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString path = dialog.selectedFiles().constFirst();
    window.RememberFolder(QStringLiteral("export"), path);
    return path;
}

void CopyBuffer(const Richie &buffer)
{
    QGuiApplication::clipboard()->setMimeData(buffer.CreateMimeData());
}

// The CSV form chosen last, else the one of the user's locale.
const char *const LastCsvFilter = "lastCsvFilter";

}  // namespace

void TMainForm::MenuExportTableClick()
{
    BuildVisibleTable(*this, TextBuffer());
    ExportBuffer(this, TextBuffer());
}

void TMainForm::MenuExportInfoClick()
{
    BuildLabel(*this, TextBuffer());
    ExportBuffer(this, TextBuffer());
}

void TMainForm::RunLongWork(const QString &label, TLongWork::Work work, std::function<void()> done)
{
    if (longWork_)
        throw ExportError(QStringLiteral("Es l\u00e4uft schon ein Export oder Druck; bitte warten oder ihn abbrechen."));
    longWork_ = std::make_unique<TLongWork>(this, label, std::move(work), progressDelayMs_);
    connect(longWork_.get(), &TLongWork::Finished, this,
            [this, done = std::move(done)](bool cancelled, const QString &error) {
                // Let go after this notice has been delivered.
                longWork_.release()->deleteLater();
                if (!error.isEmpty())
                    ShowCommandFailure(error);
                else if (!cancelled && done)
                    done();
            });
}

void TMainForm::MenuExportProtocolClick()
{
    TBRASKDataModule &database = Database(*this, "Me\u00dfprotokoll");
    const int serviceID = database.SelectedServiceID();
    const auto [chosen, filter] = ChooseExportFile(this);
    if (chosen.isEmpty())
        return;
    const QString file = ExportFile::WithDefaultExtension(chosen);
    const Richie::Format format = ExportFile::FormatForFilter(filter);
    // Streamed beside the window through the work thread's own connection.
    RunLongWork(QStringLiteral("Me\u00dfprotokoll wird exportiert ..."),
                [store = database.SharedStore(), serviceID, format, file, family = TextBuffer().FontFamily(),
                 size = TextBuffer().FontPointSize()](const StreamedExport::Job &job) {
                    StreamedExport::SaveProtocol(*store, serviceID, format, family, size, file, job);
                });
}

void TMainForm::MenuExportSamplesClick()
{
    TBRASKDataModule &database = Database(*this, "Messwerte");
    const int serviceID = database.SelectedServiceID();
    if (serviceID <= 0)
        NotAvailable("Messwerte");
    QFileDialog dialog(this, QStringLiteral("Messwerte exportieren"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(CsvForms::Filters());
    const QString lastFilter = property(LastCsvFilter).toString();
    dialog.selectNameFilter(lastFilter.isEmpty() ? CsvForms::FilterForForm(CsvForms::FormForLocale()) : lastFilter);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setDirectory(LastFolder(QStringLiteral("export")));
    dialog.selectFile(QStringLiteral("Aufzeichnung-%1.csv").arg(serviceID));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    setProperty(LastCsvFilter, dialog.selectedNameFilter());
    RememberFolder(QStringLiteral("export"), dialog.selectedFiles().constFirst());
    RunLongWork(QStringLiteral("Messwerte werden exportiert ..."),
                [store = database.SharedStore(), serviceID, file = dialog.selectedFiles().constFirst(),
                 form = CsvForms::FormForFilter(dialog.selectedNameFilter())](const StreamedExport::Job &job) {
                    StreamedExport::SaveSamplesCsv(*store, serviceID, file, form, job);
                });
}

// Texts print beside the window on a printer of the job's own with the
// choices of the printer chosen last; the window's printer is only read.
void TMainForm::PrintLines(const QString &label, PrintWork::LineSource lines)
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>();
    RichiePrinter::Recover(printer_);
    // Without any installed printer Qt falls back to PDF output without a
    // file: there is nothing to print on.
    if (printer_->outputFormat() == QPrinter::PdfFormat && printer_->outputFileName().isEmpty())
        throw ExportError(QStringLiteral("Es ist kein Drucker eingerichtet."));
    RunLongWork(label, [choices = RichiePrinter::PrinterChoices::Of(*printer_), lines = std::move(lines),
                        family = TextBuffer().FontFamily(),
                        size = TextBuffer().FontPointSize()](const StreamedExport::Job &job) {
        PrintWork::Print(choices, family, size, lines, job);
    });
}

void TMainForm::SaveLinesAsPdf(const QString &name, const QString &label, PrintWork::LineSource lines)
{
    const QString path = ChoosePdfFile(*this, name);
    if (path.isEmpty())
        return;
    RunLongWork(label, [path, name, lines = std::move(lines), family = TextBuffer().FontFamily(),
                        size = TextBuffer().FontPointSize()](const StreamedExport::Job &job) {
        PrintWork::SavePdf(path, name, family, size, lines, job);
    });
}

void TMainForm::MenuPrintTableClick()
{
    BuildVisibleTable(*this, TextBuffer());
    PrintLines(QStringLiteral("Tabelle wird gedruckt ..."), PrintWork::LinesOf(TextBuffer()));
}

void TMainForm::MenuPrintInfoClick()
{
    BuildLabel(*this, TextBuffer());
    PrintLines(QStringLiteral("Etikett wird gedruckt ..."), PrintWork::LinesOf(TextBuffer()));
}

void TMainForm::MenuPrintProtocolClick()
{
    PrintLines(QStringLiteral("Me\u00dfprotokoll wird gedruckt ..."), ProtocolLines(*this));
}

void TMainForm::SaveAsPdf(const QString &name, const std::function<void(QPrinter &)> &job)
{
    const QString path = ChoosePdfFile(*this, name);
    if (!path.isEmpty())
        PdfTarget::Save(path, name, job);
}

void TMainForm::MenuPdfTableClick()
{
    BuildVisibleTable(*this, TextBuffer());
    SaveLinesAsPdf(DatabasePageControl->tabText(DatabasePageControl->currentIndex()),
                   QStringLiteral("Tabelle wird gespeichert ..."), PrintWork::LinesOf(TextBuffer()));
}

void TMainForm::MenuPdfInfoClick()
{
    BuildLabel(*this, TextBuffer());
    const int battery = DataModule() ? DataModule()->SelectedBatteryID() : 0;
    SaveLinesAsPdf(QStringLiteral("Etikett-Akku-%1").arg(battery), QStringLiteral("Etikett wird gespeichert ..."),
                   PrintWork::LinesOf(TextBuffer()));
}

void TMainForm::MenuPdfProtocolClick()
{
    PrintWork::LineSource lines = ProtocolLines(*this);
    const int service = DataModule() ? DataModule()->SelectedServiceID() : 0;
    SaveLinesAsPdf(QStringLiteral("Messprotokoll-%1").arg(service),
                   QStringLiteral("Me\u00dfprotokoll wird gespeichert ..."), std::move(lines));
}

void TMainForm::MenuPrinterSetupClick()
{
    // The printer chosen here prints every later job; nothing is printed now.
    // A printer that a failed job left unusable is renewed first, so the
    // choice here takes effect.
    RichiePrinter::Recover(printer_);
    QPrintDialog dialog(&Printer(), this);
    dialog.setWindowTitle(QStringLiteral("Drucker einrichten"));
    dialog.exec();
}

void TMainForm::MenuCopyTableClick()
{
    BuildVisibleTable(*this, TextBuffer());
    CopyBuffer(TextBuffer());
}

void TMainForm::MenuCopyInfoClick()
{
    BuildLabel(*this, TextBuffer());
    CopyBuffer(TextBuffer());
}

void TMainForm::MenuCopyProtocolClick()
{
    TBRASKDataModule &database = Database(*this, "Me\u00dfprotokoll");
    const int serviceID = database.SelectedServiceID();
    // Built beside the window; the clipboard takes it on the window thread.
    struct Texts {
        QBuffer plain, rtf;
    };
    auto texts = std::make_shared<Texts>();
    RunLongWork(
        QStringLiteral("Me\u00dfprotokoll wird kopiert ..."),
        [store = database.SharedStore(), serviceID, texts, family = TextBuffer().FontFamily(),
         size = TextBuffer().FontPointSize()](const StreamedExport::Job &job) {
            texts->plain.open(QIODevice::WriteOnly);
            texts->rtf.open(QIODevice::WriteOnly);
            StreamedExport::WriteProtocol(*store, serviceID, Richie::Format::PlainText, family, size, texts->plain,
                                          job);
            StreamedExport::WriteProtocol(*store, serviceID, Richie::Format::Rtf, family, size, texts->rtf, job);
        },
        [texts] {
            auto *mime = new QMimeData;
            mime->setText(QString::fromUtf8(texts->plain.data()));
            for (const QString &type : {Richie::RtfMimeType(), QStringLiteral("application/rtf"),
                                        Richie::RtfWindowsMimeType()})
                mime->setData(type, texts->rtf.data());
            QGuiApplication::clipboard()->setMimeData(mime);
        });
}

void TMainForm::MenuKestrixClick()
{
    if (!database_ || !kestrixDialog_)
        NotAvailable("Kestrix");
    if (kestrixDialog_->exec() != QDialog::Accepted)
        return;
    AfterLoggerReadout();
    // Values the line garbled are missing from the recording: say how many.
    const auto *dialog = qobject_cast<TKestrixDialog *>(kestrixDialog_);
    if (dialog && !dialog->Outcome().Skipped.isEmpty())
        QMessageBox::information(this, QStringLiteral("KESTRIX - Auslesen"),
                                 QStringLiteral("%1 von %2 Werten kamen unverst\u00e4ndlich an und fehlen in der "
                                                "Aufzeichnung.")
                                     .arg(dialog->Outcome().Skipped.size())
                                     .arg(dialog->Outcome().Maximum));
}
