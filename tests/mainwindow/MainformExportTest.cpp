// The main window's export, print, copy and logger commands on the whole
// program, driven through the real dialogs.

#include "tests/support/KestrixFixture.h"
#include "tests/support/ProgramFixture.h"

#include "export/CsvWriter.h"
#include "export/ExportFile.h"
#include "tests/support/RtfText.h"

#include "database/SqlStore.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <tuple>

namespace {

// Answers a file dialog: notes the filter it offers, chooses the given one
// (unless empty), enters the name and confirms it.
ModalDriver::DialogHandler SaveAs(const QString &fileName, const QString &filter = QString(),
                                  QString *offered = nullptr)
{
    return [=](QDialog *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        if (offered)
            *offered = dialog->selectedNameFilter();
        if (!filter.isEmpty())
            dialog->selectNameFilter(filter);
        // The whole name at once: typed key by key, the completer jumps into folders.
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QMetaObject::invokeMethod(dialog, "done", Q_ARG(int, QDialog::Accepted));
    };
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

int PdfPages(const QString &path)
{
    const QByteArray content = Contents(path);
    return int(content.count("/Type /Page\n") + content.count("/Type /Page ") + content.count("/Type /Page/"));
}

// What one of poppler's tools says of a PDF file: pdftotext its text (Qt
// compresses the text streams), pdfinfo its page size.
QString Poppler(const QString &tool, const QString &path)
{
    QProcess process;
    process.start(tool, tool == QLatin1String("pdftotext") ? QStringList{path, QStringLiteral("-")} : QStringList{path});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(tool, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString PdfText(const QString &path)
{
    return Poppler(QStringLiteral("pdftotext"), path);
}

// A treatment of a new battery 1 with a charge step and its samples, selected.
int SelectedTreatment(Program &program, int samples, int interval)
{
    InsertBattery(program.Db(), 1, 1000);
    const int service = InsertTreatment(program.Db(), 1, 3, Laden, 300, samples, interval);
    program.Db().ReopenBatteries(1);
    program.Db().ReopenServices(service);
    QCoreApplication::processEvents();
    return service;
}

} // namespace

TEST(MainformExport, SamplesAsCsvInBothFormsFromTheContextMenuAndTablesAsRtfEvenIntoTxt)
{
    Program program;
    ModalDriver driver;
    TMainForm &form = program.Form();
    InsertBattery(program.Db(), 2, 1000, QStringLiteral("Baby {blau}"));
    InsertBattery(program.Db(), 3, 2000, QString());
    SelectedTreatment(program, 3, 600);
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetServices"));
    QCoreApplication::processEvents();
    form.UpdateMenus();
    // A German user is offered the German spreadsheet form first; the
    // standard form chosen instead is offered the next time.
    const QLocale userLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QString offered;
    const QString file = program.Directory() + QStringLiteral("/werte");
    driver.OnDialog(SaveAs(file, CsvForms::StandardFilter(), &offered));
    Part<QAction>(form, "PopupMenuExportSamples")->trigger();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    EXPECT_EQ(offered, CsvForms::GermanFilter());
    EXPECT_EQ(QString::fromUtf8(Contents(file + QStringLiteral(".csv"))),
              QStringLiteral("Zeit [s],Schritt,Funktion,Spannung [V],Strom [A],Kapazit\u00e4t [mAh]\r\n"
                             "0,1,Laden,1.3,0.3,0\r\n600,1,Laden,1.301,0.3,50\r\n1200,1,Laden,1.302,0.3,100\r\n"));
    EXPECT_EQ(form.LastFolder(QStringLiteral("export")), program.Directory());
    driver.OnDialog(SaveAs(file + QStringLiteral("-de"), CsvForms::GermanFilter(), &offered));
    Part<QAction>(form, "PopupMenuExportSamples")->trigger();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    EXPECT_EQ(offered, CsvForms::StandardFilter());
    EXPECT_EQ(Contents(file + QStringLiteral("-de.csv")),
              QStringLiteral("\ufeffZeit [s];Schritt;Funktion;Spannung [V];Strom [A];Kapazit\u00e4t [mAh]\r\n"
                             "0;1;Laden;1,3;0,3;0\r\n600;1;Laden;1,301;0,3;50\r\n1200;1;Laden;1,302;0,3;100\r\n")
                  .toUtf8());
    QLocale::setDefault(userLocale);

    // The RTF filter with a bare name writes RTF into name.txt.
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetAkkus"));
    QCoreApplication::processEvents();
    driver.OnDialog(SaveAs(program.Directory() + QStringLiteral("/tabelle"), ExportFile::RtfFilter()));
    form.MenuExportTableClick();
    const RtfReadResult rtf = ReadRtfText(Contents(program.Directory() + QStringLiteral("/tabelle.txt")));
    ASSERT_TRUE(rtf.valid) << rtf.error.toStdString();
    EXPECT_EQ(rtf.text, QStringLiteral("1\t1000\tNMH\tAkku\t\n2\t1000\tNMH\tBaby {blau}\t\n3\t2000\tNMH\t\t\n"));

    // The filter chosen last is offered again.
    driver.OnDialog(SaveAs(program.Directory() + QStringLiteral("/etikett.rtf"), QString(), &offered));
    form.MenuExportInfoClick();
    EXPECT_EQ(offered, ExportFile::RtfFilter());
    EXPECT_TRUE(Contents(program.Directory() + QStringLiteral("/etikett.rtf")).startsWith("{\\rtf1"));
}

// A protocol export (or PDF) runs beside the window with a progress bar;
// "Abbrechen" leaves the file that had the chosen name as it was, and no
// half-written file beside it. Done again, the export completes.
TEST(MainformExport, CancelledProtocolExportLeavesNoPartialFile)
{
    Program program;
    ModalDriver driver;
    TMainForm &form = program.Form();
    const int service = SelectedTreatment(program, 0, 1);
    // A million samples in one statement (row by row would take the test's time).
    Records(program.Db()).InTransaction([&] {
        Records(program.Db()).Store().exec(
            QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999) "
                           "SELECT ?, 1, i, 1300 + i % 100, 300 FROM n"),
            {service});
    });
    form.SetProgressDelay(0);
    const QString file = program.Directory() + QStringLiteral("/protokoll.txt");
    {
        QFile old(file);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("alt\r\n");
    }
    const auto filesThere = [&] { return QDir(program.Directory()).entryList({QStringLiteral("protokoll*")}); };

    driver.OnDialog(SaveAs(file));
    // The progress bar comes up as a dialog of its own; the user cancels there.
    bool barShown = false;
    driver.OnDialog([&](QDialog *dialog) {
        auto *bar = qobject_cast<QProgressDialog *>(dialog);
        ASSERT_NE(bar, nullptr);
        barShown = true;
        QPushButton *cancel = bar->findChild<QPushButton *>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), QStringLiteral("Abbrechen"));
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    form.MenuExportProtocolClick();
    ASSERT_NE(form.LongWork(), nullptr);
    bool cancelled = false;
    QObject::connect(form.LongWork(), &TLongWork::Finished, [&](bool wasCancelled, const QString &) {
        cancelled = wasCancelled;
    });
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(cancelled) << "the export ended before the cancel";
    EXPECT_EQ(Contents(file), QByteArray("alt\r\n"));
    EXPECT_EQ(filesThere(), QStringList{QStringLiteral("protokoll.txt")});
    EXPECT_EQ(driver.Failures(), 0) << driver.Report().toStdString();

    // Saved as PDF and cancelled the same way: the old PDF stays, nothing beside it.
    const QString pdf = program.Directory() + QStringLiteral("/protokoll-alt.pdf");
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("%PDF alt");
    }
    driver.OnDialog(SaveAs(pdf));
    driver.OnDialog([&](QDialog *dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
    });
    form.MenuPdfProtocolClick();
    ASSERT_NE(form.LongWork(), nullptr);
    cancelled = false;
    QObject::connect(form.LongWork(), &TLongWork::Finished, [&](bool wasCancelled, const QString &) {
        cancelled = wasCancelled;
    });
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    EXPECT_TRUE(cancelled) << "the PDF was done before the cancel";
    EXPECT_EQ(Contents(pdf), QByteArray("%PDF alt"));
    EXPECT_EQ(filesThere(), QStringList({QStringLiteral("protokoll-alt.pdf"), QStringLiteral("protokoll.txt")}));
    EXPECT_EQ(driver.Failures(), 0) << driver.Report().toStdString();

    form.SetProgressDelay(60000);   // done without a bar this time
    driver.OnDialog(SaveAs(file));
    form.MenuExportProtocolClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }, 60000));
    const QByteArray written = Contents(file);
    EXPECT_EQ(written.count("\r\n"), 1000001);
    EXPECT_TRUE(written.startsWith("[s]\t[V]\t[A]\t[fx]\r\n0\t1,3\t0,3\tLaden\r\n")
                || written.startsWith("[s]\t[V]\t[A]\t[fx]\r\n0\t1.3\t0.3\tLaden\r\n"))
        << written.left(80).toStdString();
    EXPECT_EQ(filesThere(), QStringList({QStringLiteral("protokoll-alt.pdf"), QStringLiteral("protokoll.txt")}));
}

TEST(MainformExport, CopyAndPrintTheProtocolAlsoAfterAFailedPrint)
{
    Program program;
    ModalDriver driver;
    TMainForm &form = program.Form();
    SelectedTreatment(program, 399, 60);   // the protocol of a long treatment

    form.MenuCopyProtocolClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text().count(QStringLiteral("\r\n")), 400);
    const QByteArray rtf = data->data(Richie::RtfMimeType());
    EXPECT_TRUE(ReadRtfText(rtf).valid);
    EXPECT_EQ(data->data(Richie::RtfWindowsMimeType()), rtf);

    // No printer here: Qt falls back to PDF without a file. The job is refused
    // with a reason; a job started on it anyway leaves the printer "active".
    QPrinter &printer = form.Printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString());
    try {
        form.MenuPrintProtocolClick();
        ADD_FAILURE() << "printed without a printer";
    } catch (const ExportError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("kein Drucker")));
    }
    QPainter stuck;
    EXPECT_FALSE(stuck.begin(&printer));
    ASSERT_EQ(printer.printerState(), QPrinter::Active);

    // "Drucker einrichten...": the dialog works on a usable printer again.
    driver.OnDialog([](QDialog *dialog) { dialog->reject(); });
    form.MenuPrinterSetupClick();
    EXPECT_NE(form.Printer().printerState(), QPrinter::Active);

    // A PDF printer chosen now prints texts and diagrams.
    const QString text = program.Directory() + QStringLiteral("/protokoll.pdf");
    form.Printer().setOutputFormat(QPrinter::PdfFormat);
    form.Printer().setOutputFileName(text);
    form.Printer().setPageSize(QPageSize(QPageSize::A4));
    form.MenuPrintProtocolClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    // 400 lines filling each A4 page: seven pages (a box in the upper half took thirteen).
    EXPECT_EQ(PdfPages(text), 7);
    form.MenuShowVoltageClick();
    const QString diagram = program.Directory() + QStringLiteral("/diagramm.pdf");
    form.Printer().setOutputFileName(diagram);
    form.MenuPrintDiagramClick();
    EXPECT_EQ(PdfPages(diagram), 1);

    // A job that fails (beside the window) says why and leaves the printer usable.
    form.Printer().setOutputFileName(program.Directory() + QStringLiteral("/no/such/folder/x.pdf"));
    form.MenuPrintProtocolClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    ASSERT_EQ(driver.Failures(), 1) << driver.Report().toStdString();
    EXPECT_TRUE(driver.messages.back().detail.contains(QStringLiteral("x.pdf"))) << driver.Report().toStdString();
    form.Printer().setOutputFileName(text);
    form.MenuPrintInfoClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    EXPECT_EQ(PdfPages(text), 1);
    EXPECT_EQ(driver.unexpectedDialogs, 0);
}

// "Als PDF speichern": the printed pages in a file, no print dialog.
TEST(MainformExport, ProtocolAndDiagramSaveStraightToPdf)
{
    Program program;
    ModalDriver driver;
    TMainForm &form = program.Form();
    SelectedTreatment(program, 3, 600);
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetServices"));
    QCoreApplication::processEvents();
    form.UpdateMenus();
    ASSERT_TRUE(form.CommandAction(Command::PdfProtocol)->isEnabled());

    const QString protocol = program.Directory() + QStringLiteral("/protokoll");
    driver.OnDialog(SaveAs(protocol));
    form.CommandAction(Command::PdfProtocol)->trigger();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    const QString protocolText = PdfText(protocol + QStringLiteral(".pdf"));
    for (const QString &expected : {QStringLiteral("[fx]"), QStringLiteral("1200"), QLocale().toString(1.301),
                                    QStringLiteral("Laden")})
        EXPECT_TRUE(protocolText.contains(expected)) << expected.toStdString() << "\n" << protocolText.toStdString();
    EXPECT_EQ(PdfPages(protocol + QStringLiteral(".pdf")), 1);
    EXPECT_TRUE(Poppler(QStringLiteral("pdfinfo"), protocol + QStringLiteral(".pdf")).contains(QStringLiteral("(A4)")));

    form.MenuShowVoltageClick();
    form.UpdateMenus();
    ASSERT_TRUE(Part<QAction>(form, "PopupMenuPdfDiagram")->isEnabled());
    const QString diagram = program.Directory() + QStringLiteral("/kurve.pdf");
    driver.OnDialog(SaveAs(diagram));
    Part<QAction>(form, "PopupMenuPdfDiagram")->trigger();
    const QString diagramText = PdfText(diagram);
    EXPECT_TRUE(diagramText.contains(QStringLiteral("Diagramm1")) && diagramText.contains(QStringLiteral("Akku 1")))
        << diagramText.toStdString();

    // A folder that is not there: a reason in German, nothing else touched.
    driver.OnDialog(SaveAs(program.Directory() + QStringLiteral("/fehlt/protokoll.pdf")));
    form.MenuPdfProtocolClick();
    ASSERT_TRUE(WaitFor([&] { return form.LongWork() == nullptr; }));
    ASSERT_EQ(driver.Failures(), 1) << driver.Report().toStdString();
    EXPECT_TRUE(driver.messages.back().detail.contains(QStringLiteral("kann nicht geschrieben werden")))
        << driver.Report().toStdString();
    EXPECT_EQ(PdfPages(protocol + QStringLiteral(".pdf")), 1);
    EXPECT_EQ(driver.unexpectedDialogs, 0);
}

TEST_F(KestrixFixture, MainWindowReadoutShowsTheNewTreatment)
{
    StartLogger(Phases({121, 61}));
    InsertTreatment(*db.data, battery, 1);   // an older treatment, so that the new one is not the only row
    db.data.reset();
    TBraskon program(db.directory.path(), db.directory.filePath(QStringLiteral("log.txt")).toStdString());
    TMainForm &form = program.MainForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    program.DataModule().ReopenBatteries(battery);
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetAkkus"));
    QCoreApplication::processEvents();

    form.MenuKestrixClick();   // modal; closes by itself after the transfer

    EXPECT_EQ(Part<QTabWidget>(form, "DatabasePageControl")->currentWidget(), Part<QWidget>(form, "TabSheetServices"));
    QueryModel *services = program.DataModule().ServiceQuery();
    EXPECT_EQ(std::make_tuple(services->rowCount(), services->currentRow(), program.DataModule().SubServiceQuery()->rowCount()),
              std::make_tuple(2, 1, 2));
    EXPECT_EQ(form.focusWidget(), Part<QTableView>(form, "ServicesDBGrid"));
}
