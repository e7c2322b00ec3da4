// The table, label and protocol builders, in process and through braskon-cli.

#include "ExportBuilders.h"
#include "ExportFile.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QStandardItemModel>

#include <tuple>

using namespace ExportBuilders;

namespace {

QString decimal(const QString &text)
{
    QString localized = text;
    localized.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    return localized;
}

} // namespace

TEST(TableBuilder, ThreeBatteriesGiveThreeLinesWithoutTitle)
{
    TestDatabase db;
    db.AddBattery(1, 600, 1, 4, QStringLiteral("Mignon grün"));
    db.AddBattery(2, 1800, 0, 6, QStringLiteral("Sub-C"));
    db.AddBattery(3, 7200, 2, 3);
    QueryModel &batteries = *db.data->BatteryQuery();
    Richie buffer;
    buffer.Add(QStringLiteral("left over from before"));
    BuildTable(batteries, ColumnIndexes(batteries, BatteryListColumns()), buffer);
    ASSERT_EQ(buffer.Lines().size(), 3);
    EXPECT_EQ(buffer.Lines().at(0), QStringLiteral("1\t600\tNMH\tMignon grün"));
    // An empty column later in the line still gives its tab.
    EXPECT_EQ(buffer.Lines().at(2), QStringLiteral("3\t7200\tBlei\t"));
    // The list's current row is not moved.
    EXPECT_EQ(db.data->SelectedBatteryID(), 3);
    EXPECT_THROW(ColumnIndexes(batteries, {QStringLiteral("F_Nonsense")}), ExportError);
}

TEST(TableBuilder, EmptyTextsAtTheStartOfALineLeaveNoTab)
{
    QStandardItemModel model(2, 4);
    const QStringList first = {QString(), QStringLiteral("500"), QString(), QStringLiteral("OK")};
    const QStringList second = {QString(), QString(), QStringLiteral("300"), QString()};
    for (int column = 0; column < 4; ++column) {
        model.setItem(0, column, new QStandardItem(first[column]));
        model.setItem(1, column, new QStandardItem(second[column]));
    }
    Richie buffer;
    BuildTable(model, {0, 1, 2, 3}, buffer);
    EXPECT_EQ(buffer.Lines(), QStringList({QStringLiteral("500\t\tOK"), QStringLiteral("300\t")}));

    // Columns in the order the grid shows them, hidden ones left out.
    BuildTable(model, {3, 1}, buffer);
    EXPECT_EQ(buffer.Lines(), QStringList({QStringLiteral("OK\t500"), QString()}));
}

TEST(ProtocolBuilder, HundredSamplesGiveHundredAndOneLines)
{
    TestDatabase db;
    db.AddBattery(1, 1000, 1, 4);
    const int service = db.AddService(1, 3);
    db.AddStep(service, 1, Entladen, 500);
    db.AddStep(service, 2, Laden, 300);
    for (int i = 0; i < 100; ++i)
        db.AddSample(service, i < 50 ? 1 : 2, i * 60, 1234 + i, i < 50 ? 500 : 300);
    Richie buffer;
    BuildProtocol(*db.data, service, buffer);
    ASSERT_EQ(buffer.Lines().size(), 101);
    EXPECT_EQ(buffer.Lines().at(0), QStringLiteral("[s]\t[V]\t[A]\t[fx]"));
    EXPECT_EQ(buffer.Lines().at(1), decimal(QStringLiteral("0\t1.234\t0.5\tEntladen")));
    EXPECT_EQ(buffer.Lines().at(100), decimal(QStringLiteral("5940\t1.333\t0.3\tLaden")));
}

TEST(ProtocolBuilder, SamplesWithoutStepRowAreLeftOutAndNoSamplesGiveAnEmptyFile)
{
    TestDatabase db;
    db.AddBattery(1, 1000, 1, 4);
    const int service = db.AddService(1, 3);
    db.AddStep(service, 1, Entladen, 500);
    db.AddSample(service, 1, 0, 1300, 500);
    db.AddSample(service, 2, 60, 1310, 300);   // step 2 was never written
    db.AddSample(service, 1, 120, 0, 0);
    Richie buffer;
    BuildProtocol(*db.data, service, buffer);
    EXPECT_EQ(buffer.Lines(), QStringList({ProtocolHeader(), decimal(QStringLiteral("0\t1.3\t0.5\tEntladen")),
                                           QStringLiteral("120\t0\t0\tEntladen")}));

    const int empty = db.AddService(1, 1);
    BuildProtocol(*db.data, empty, buffer);
    EXPECT_TRUE(buffer.IsEmpty());
    const QString path = db.directory.filePath(QStringLiteral("leer"));
    ExportFile::Export(buffer, path, ExportFile::TextFilter());
    QFile file(path + QStringLiteral(".txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), 0);
}

namespace {

struct CliResult {
    int exitCode = -1;
    QByteArray out, err;
};

CliResult runCli(const QString &database, const QStringList &args, const QString &locale = "C")
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("LANG"), locale);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BRASKON_CLI_PATH), QStringList({QStringLiteral("--database"), database}) + args);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

TEST(ExportCommand, LabelProtocolAndListsThroughTheSameBuilders)
{
    TestDatabase db;
    db.AddBattery(1, 600, 1, 4, QStringLiteral("Mignon"));
    db.AddBattery(2, 7200, 2, 4);
    const int service = db.AddService(1, 3);
    db.AddStep(service, 1, Entladen, 500);
    db.AddSample(service, 1, 30, 1402, 500);
    const QString dir = db.directory.path();
    db.data.reset();   // the command opens the database itself
    const QString id = QString::number(service);

    const QList<std::tuple<QStringList, QString, QByteArray>> outputs = {
        {{"label", "1"}, "de_DE.UTF-8", "Akku 1\r\nMignon\r\nNMH   600mAh   4,8V\r\n"},
        {{"label", "1"}, "C", "Akku 1\r\nMignon\r\nNMH   600mAh   4.8V\r\n"},
        {{"label", "2"}, "de_DE.UTF-8", "Akku 2\r\n\r\nBlei   7200mAh   8V\r\n"},
        {{"batteries"}, "C", "1\t600\tNMH\tMignon\r\n2\t7200\tBlei\t\r\n"},
        {{"protocol", id}, "C", "[s]\t[V]\t[A]\t[fx]\r\n30\t1.402\t0.5\tEntladen\r\n"},
        {{"steps", id}, "C", "Entladen\t500\t0\t0:0:0\tfolgt\r\n"},
    };
    for (const auto &[args, locale, expected] : outputs)
        EXPECT_EQ(runCli(dir, QStringList{"export"} + args, locale).out, expected) << args.join(' ').toStdString();
    const CliResult services = runCli(dir, {"export", "services", "1"});
    EXPECT_EQ(services.exitCode, 0);
    EXPECT_EQ(services.out.count("\r\n"), 1);

    const QString rtfFile = dir + QStringLiteral("/label.rtf");
    EXPECT_EQ(runCli(dir, {"export", "label", "1", "--rtf", "-o", rtfFile}).exitCode, 0);
    QFile file(rtfFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("{\\rtf1"));

    const CliResult missing = runCli(dir, {"export", "label", "9"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_NE(runCli(dir, {"export", "protocol", "77"}).exitCode, 0);
}
