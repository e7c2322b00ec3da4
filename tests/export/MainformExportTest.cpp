// The main window's export, print, copy and logger commands on the whole
// program, driven through the real dialogs.

#include "KestrixFixture.h"

#include "ExportFile.h"
#include "RtfText.h"
#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Answers the next modal file dialog: notes the filter it offers, chooses the
// given one (unless empty), enters the name and confirms it.
std::shared_ptr<QString> AnswerFileDialog(const QString &filter, const QString &fileName)
{
    auto offered = std::make_shared<QString>();
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, filter, fileName, offered] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        *offered = dialog->selectedNameFilter();
        if (!filter.isEmpty())
            dialog->selectNameFilter(filter);
        // The whole name goes into the name field at once: typing a path key by
        // key lets the dialog's completer jump into folders on every "/".
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(fileName);
        QMetaObject::invokeMethod(dialog, "done", Q_ARG(int, QDialog::Accepted));
    });
    timer->start();
    return offered;
}

int PdfPages(const QString &path)
{
    QFile printed(path);
    if (!printed.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray content = printed.readAll();
    return int(content.count("/Type /Page\n") + content.count("/Type /Page ") + content.count("/Type /Page/"));
}

class MainformExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = std::make_unique<TBraskon>(dir.path(), dir.filePath(QStringLiteral("log.txt")).toStdString());
        Form().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    }
    void TearDown() override { program.reset(); }

    TMainForm &Form() { return program->MainForm(); }
    TBRASKDataModule &Db() { return program->DataModule(); }

    void AddBattery(int id, int capacity, const QString &brand) { InsertBattery(Db(), id, capacity, 1, 4, brand); }

    QTemporaryDir dir;
    std::unique_ptr<TBraskon> program;
};

} // namespace

TEST_F(MainformExport, TableExportWithRtfFilterAndBareNameWritesRtfIntoTxt)
{
    AddBattery(1, 600, QStringLiteral("Mignon"));
    AddBattery(2, 1000, QStringLiteral("Baby {blau}"));
    AddBattery(3, 2000, QString());
    Form().DatabasePageControl->setCurrentWidget(Form().TabSheetAkkus);
    QCoreApplication::processEvents();

    AnswerFileDialog(ExportFile::RtfFilter(), dir.filePath(QStringLiteral("tabelle")));
    Form().MenuExportTableClick();
    QFile file(dir.filePath(QStringLiteral("tabelle.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const RtfReadResult rtf = ReadRtfText(file.readAll());
    ASSERT_TRUE(rtf.valid) << rtf.error.toStdString();
    EXPECT_EQ(rtf.text, QStringLiteral("1\t600\tNMH\tMignon\n2\t1000\tNMH\tBaby {blau}\n3\t2000\tNMH\t\n"));

    // The filter chosen last is offered again.
    const auto offered = AnswerFileDialog(QString(), dir.filePath(QStringLiteral("etikett.rtf")));
    Form().MenuExportInfoClick();
    EXPECT_EQ(*offered, ExportFile::RtfFilter());
    QFile label(dir.filePath(QStringLiteral("etikett.rtf")));
    ASSERT_TRUE(label.open(QIODevice::ReadOnly));
    EXPECT_TRUE(label.readAll().startsWith("{\\rtf1"));
}

TEST_F(MainformExport, SamplesAsCsvFromTheRecordsContextMenu)
{
    AddBattery(1, 1000, QStringLiteral("Tabellenakku"));
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    Db().InsertService(service);
    StepRecord step{service.ID, 1, Laden, 300, 0, 0, 0, 0};
    Db().InsertStep(step);
    for (int i = 0; i < 3; ++i)
        Db().InsertSample({service.ID, 1, i * 600, 1300 + i, 300, 0});
    Db().ReopenBatteries(1);
    Db().ReopenServices(service.ID);
    Form().DatabasePageControl->setCurrentWidget(Form().TabSheetServices);
    QCoreApplication::processEvents();
    Form().UpdateMenus();
    // Offered with the protocol, in the menu and in the record's context menu.
    EXPECT_TRUE(Form().MenuExportSamples->isEnabled());
    EXPECT_TRUE(Form().PopupMenuExportSamples->isEnabled());

    const QString file = dir.filePath(QStringLiteral("werte"));
    const auto offered = AnswerFileDialog(QString(), file);
    Form().PopupMenuExportSamples->trigger();
    EXPECT_EQ(*offered, QStringLiteral("CSV-Dateien (*.csv)"));
    QFile written(file + QStringLiteral(".csv"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(written.readAll()),
              QStringLiteral("Zeit [s],Schritt,Funktion,Spannung [V],Strom [A],Kapazit\u00e4t [mAh]\r\n"
                             "0,1,Laden,1.3,0.3,0\r\n600,1,Laden,1.301,0.3,50\r\n1200,1,Laden,1.302,0.3,100\r\n"));
    EXPECT_EQ(Form().LastFolder(QStringLiteral("export")), dir.path());

    // Without a recording there is nothing to export.
    Db().DeleteSelectedService();
    QCoreApplication::processEvents();
    Form().UpdateMenus();
    EXPECT_FALSE(Form().MenuExportSamples->isEnabled());
    EXPECT_FALSE(Form().PopupMenuExportSamples->isEnabled());
}

TEST_F(MainformExport, CopyAndPrintTheProtocol)
{
    AddBattery(1, 1000, QStringLiteral("Logger"));
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    Db().InsertService(service);
    StepRecord step{service.ID, 1, Laden, 300, 0, 0, 0, 0};
    Db().InsertStep(step);
    for (int i = 0; i < 100; ++i)
        Db().InsertSample({service.ID, 1, i * 60, 1300 + i, 300, 0});
    Db().ReopenBatteries(1);
    Db().ReopenServices(service.ID);
    QCoreApplication::processEvents();

    Form().MenuCopyProtocolClick();
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text().count(QStringLiteral("\r\n")), 101);
    const QByteArray rtf = data->data(Richie::RtfMimeType());
    EXPECT_TRUE(ReadRtfText(rtf).valid);
    EXPECT_EQ(data->data(Richie::RtfWindowsMimeType()), rtf);

    const QString pdf = dir.filePath(QStringLiteral("protokoll.pdf"));
    Form().Printer().setOutputFormat(QPrinter::PdfFormat);
    Form().Printer().setOutputFileName(pdf);
    Form().Printer().setPageSize(QPageSize(QPageSize::A4));
    Form().MenuPrintProtocolClick();
    // 101 lines of about a sixth of an inch on pages with about 9.5 inches
    // for text: two pages.
    EXPECT_EQ(PdfPages(pdf), 2);
}

TEST_F(MainformExport, AFailedPrintLeavesThePrinterUsableForTextsAndDiagrams)
{
    AddBattery(1, 1000, QStringLiteral("Drucktest"));
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    Db().InsertService(service);
    StepRecord step{service.ID, 1, Laden, 300, 0, 0, 0, 0};
    Db().InsertStep(step);
    // 399 samples: the protocol of a long treatment.
    for (int i = 0; i < 399; ++i)
        Db().InsertSample({service.ID, 1, i * 60, 1300 + i, 300, 0});
    Db().ReopenBatteries(1);
    Db().ReopenServices(service.ID);
    QCoreApplication::processEvents();

    // No printer is installed here: Qt's fallback is PDF output without a
    // file. The job is refused with a reason, and a job started on it anyway
    // (as before) leaves Qt's printer "active" for good.
    Form().Printer().setOutputFormat(QPrinter::PdfFormat);
    Form().Printer().setOutputFileName(QString());
    try {
        Form().MenuPrintProtocolClick();
        ADD_FAILURE() << "printed without a printer";
    } catch (const ExportError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("kein Drucker")));
    }
    QPainter stuck;
    EXPECT_FALSE(stuck.begin(&Form().Printer()));
    ASSERT_EQ(Form().Printer().printerState(), QPrinter::Active);

    // "Drucker einrichten...": the dialog works on a usable printer again.
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            dialog->reject();
        }
    });
    timer->start();
    Form().MenuPrinterSetupClick();
    EXPECT_NE(Form().Printer().printerState(), QPrinter::Active);

    // A PDF printer chosen now prints texts and diagrams.
    const QString text = dir.filePath(QStringLiteral("protokoll.pdf"));
    Form().Printer().setOutputFormat(QPrinter::PdfFormat);
    Form().Printer().setOutputFileName(text);
    Form().Printer().setPageSize(QPageSize(QPageSize::A4));
    EXPECT_EQ(Form().Printer().outputFileName(), text);
    Form().MenuPrintProtocolClick();
    // 400 lines of about a sixth of an inch: with the text filling each A4
    // page (about 9.5 of its 11.7 inches, far into the lower half) that is
    // seven pages, where a box in the upper half of the page took thirteen.
    EXPECT_EQ(PdfPages(text), 7);

    Form().MenuShowVoltageClick();
    const QString diagram = dir.filePath(QStringLiteral("diagramm.pdf"));
    Form().Printer().setOutputFileName(diagram);
    Form().MenuPrintDiagramClick();
    EXPECT_EQ(PdfPages(diagram), 1);

    // A failure inside a job renews the printer as well.
    Form().Printer().setOutputFileName(dir.filePath(QStringLiteral("no/such/folder/x.pdf")));
    EXPECT_ANY_THROW(Form().MenuPrintProtocolClick());
    Form().Printer().setOutputFileName(text);
    Form().MenuPrintInfoClick();
    EXPECT_EQ(PdfPages(text), 1);
}

class MainformKestrix : public KestrixFixture {};

TEST_F(MainformKestrix, ReadoutShowsTheNewTreatment)
{
    StartLogger(RecordingFile::WithCounts({121, 61}));
    db.data.reset();
    TBraskon program(db.directory.path(), db.directory.filePath(QStringLiteral("log.txt")).toStdString());
    TMainForm &form = program.MainForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    program.DataModule().ReopenBatteries(battery);
    // An older treatment, so that the new one is not the only row.
    TBRASKDataModule::Service older;
    older.BatteryID = battery;
    older.Program = 1;
    program.DataModule().InsertService(older);
    program.DataModule().ReopenServices(older.ID);
    form.DatabasePageControl->setCurrentWidget(form.TabSheetAkkus);
    QCoreApplication::processEvents();

    form.MenuKestrixClick();   // modal; closes by itself after the transfer

    EXPECT_EQ(form.DatabasePageControl->currentWidget(), form.TabSheetServices);
    QueryModel *services = program.DataModule().ServiceQuery();
    EXPECT_EQ(services->rowCount(), 2);
    EXPECT_EQ(services->currentRow(), 1);
    EXPECT_GT(program.DataModule().SelectedServiceID(), older.ID);
    EXPECT_EQ(program.DataModule().SubServiceQuery()->rowCount(), 2);
    EXPECT_EQ(form.focusWidget(), form.ServicesDBGrid);
}
