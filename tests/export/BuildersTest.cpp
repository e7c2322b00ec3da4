// The table, label and protocol builders.

#include "export/ExportBuilders.h"
#include "export/ExportFile.h"
#include "tests/support/KestrixFixture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>

using namespace ExportBuilders;

TEST(TableBuilder, OneLinePerRowInTheGridsColumnOrder)
{
    TestDatabase db;
    db.AddBattery(1, 600, 1, 4, QStringLiteral("Mignon grün"));
    db.AddBattery(2, 1800, 0, 6, QStringLiteral("Sub-C"));
    db.AddBattery(3, 7200, 2, 3);
    QueryModel &batteries = *db.data->BatteryQuery();
    Richie buffer;
    buffer.Add(QStringLiteral("left over from before"));
    BuildTable(batteries, ColumnIndexes(batteries, BatteryListColumns()), buffer);
    // No title; an empty column later in the line still gives its tab.
    // The health column stays empty while no discharge was measured.
    EXPECT_EQ(buffer.Lines(), QStringList({"1\t600\tNMH\tMignon grün\t", "2\t1800\tNC\tSub-C\t", "3\t7200\tBlei\t\t"}));
    EXPECT_EQ(db.data->SelectedBatteryID(), 3);   // the list's current row is not moved
    EXPECT_THROW(ColumnIndexes(batteries, {QStringLiteral("F_Nonsense")}), ExportError);

}

TEST(ProtocolBuilder, OneLinePerSampleWithItsStepAndNoneWithoutAStepRow)
{
    TestDatabase db;
    db.AddBattery(1, 1000);
    const int service = InsertTreatment(*db.data, 1, 3, Entladen, 500);
    StepRecord charge{service, 2, Laden, 300, 0, 0, 0, 0};
    Records(*db.data).InsertStep(charge);
    for (int i = 0; i < 100; ++i)
        Records(*db.data).InsertSample({service, i < 50 ? 1 : 2, i * 60, 1234 + i, i < 50 ? 500 : 300, 0});
    Records(*db.data).InsertSample({service, 3, 6000, 1310, 300, 0});   // step 3 was never written
    Records(*db.data).InsertSample({service, 1, 6060, 0, 0, 0});
    Richie buffer;
    BuildProtocol(*db.data, service, buffer);
    const auto decimal = [](QString text) { return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint()); };
    ASSERT_EQ(buffer.Lines().size(), 102);
    EXPECT_EQ(QStringList({buffer.Lines().at(0), buffer.Lines().at(1), buffer.Lines().at(100), buffer.Lines().at(101)}),
              QStringList({"[s]\t[V]\t[A]\t[fx]", decimal("0\t1.234\t0.5\tEntladen"),
                           decimal("5940\t1.333\t0.3\tLaden"), "6060\t0\t0\tEntladen"}));

    // No samples give an empty file.
    BuildProtocol(*db.data, InsertTreatment(*db.data, 1), buffer);
    EXPECT_TRUE(buffer.IsEmpty());
    const QString path = db.directory.filePath(QStringLiteral("leer"));
    ExportFile::Export(buffer, path, ExportFile::TextFilter());
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".txt")) && QFile(path + QStringLiteral(".txt")).size() == 0);
}
