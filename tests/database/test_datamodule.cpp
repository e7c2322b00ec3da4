#include "tests/support/TestDatabase.h"

#include "database/QueryModel.h"
#include "database/Texts.h"

#include <climits>
#include <optional>
#include <tuple>

using DataModule = DatabaseTest;
using std::make_tuple;

TEST_F(DataModule, SortingAnEmptyListKeepsItClosedAndUnknownColumnsAreRefused)
{
    module().ReopenBatteries(0);
    module().SortBatteries("F_Capacity");   // nothing to sort: stays as it was
    EXPECT_EQ(make_tuple(false, 0), make_tuple(module().BatteryQuery()->isOpen(), module().SelectedBatteryID()));
    addBattery(1, 6, 2);
    addBattery(2, 6, 0);
    addBattery(3, 6, 1);
    module().SortBatteries("F_Type");
    EXPECT_EQ(make_tuple(2, 1), make_tuple(module().SelectedBatteryID(), module().BatteryQuery()->value(2, "F_ID").toInt()))
        << "stands on the first row";
    EXPECT_THROW(module().SortBatteries("F_ID; DROP TABLE batteries"), DatabaseError);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 3);
}

// Every list sorts both ways; the health column (latest discharge measured OK
// against the nominal capacity) sorts too, batteries without one last.
TEST_F(DataModule, ListsSortBothWaysAndByHealth)
{
    for (int id : {1, 2, 3})
        addBattery(id);   // 1000 mAh each
    addTreatment(1, 3, "2026-03-01", {{Entladen, OK, 950}, {Laden, OK, 1100}});
    addTreatment(1, 3, "2026-06-01", {{Entladen, OK, 700}, {Laden, Abgebrochen, 300}});
    addTreatment(3, 2, "2026-06-02", {{Entladen, OK, 880}});
    addTreatment(3, 2, "2026-06-03", {{Entladen, Fehler, 20}});   // measured nothing: 880 stays
    module().RefreshLists();
    QueryModel &batteries = *module().BatteryQuery();
    const auto column = [](const QueryModel &model, const char *name) {
        QStringList values;
        for (int row = 0; row < model.rowCount(); ++row)
            values << model.displayText(row, name);
        return values.join(',');
    };
    EXPECT_EQ(column(batteries, "F_Health"), "70 %,,88 %");
    module().SortList(TBRASKDataModule::List::Batteries, "F_Health", Qt::DescendingOrder);
    EXPECT_EQ(column(batteries, "F_ID"), "3,1,2");
    module().SortList(TBRASKDataModule::List::Batteries, "F_Health", Qt::AscendingOrder);
    EXPECT_EQ(column(batteries, "F_ID"), "1,3,2");
    module().SortList(TBRASKDataModule::List::Batteries, "F_ID", Qt::DescendingOrder);
    EXPECT_EQ(column(batteries, "F_ID"), "3,2,1");
    EXPECT_EQ(module().SelectedBatteryID(), 3);

    // The treatments of battery 3 newest first, their steps by state text's code.
    module().SortList(TBRASKDataModule::List::Services, "F_Date", Qt::DescendingOrder);
    EXPECT_EQ(column(*module().ServiceQuery(), "F_ID"), "4,3");
    module().ReopenBatteries(1);
    EXPECT_EQ(column(*module().ServiceQuery(), "F_ID"), "2,1") << "the order holds for every battery";
    module().SortList(TBRASKDataModule::List::Steps, "F_StateString", Qt::DescendingOrder);
    EXPECT_EQ(column(*module().SubServiceQuery(), "F_StateString"), "abgebrochen,OK");
    EXPECT_EQ(make_tuple(module().SortColumn(TBRASKDataModule::List::Steps),
                         module().SortOrder(TBRASKDataModule::List::Steps)),
              make_tuple(QString("F_State"), Qt::DescendingOrder));
    EXPECT_THROW(module().SortList(TBRASKDataModule::List::Services, "F_Battery"), DatabaseError);
}

// A list that cannot be read after the list it follows moved on (its table
// spoilt while the program runs): the re-read fails with the database's
// message, and the lists are usable again afterwards.
TEST_F(DataModule, AFollowingListThatCannotBeReadFailsWithoutAnAbort)
{
    if (onServer())
        GTEST_SKIP() << "the file's own damage";
    addBattery(1);
    addService(1, 3, 2, 1);
    module().ReopenBatteries(1);
    execute("ALTER TABLE services RENAME TO spoilt");
    EXPECT_THROW(module().ReopenBatteries(1), DatabaseError);
    EXPECT_FALSE(module().BatteryQuery()->controlsDisabled());
    execute("ALTER TABLE spoilt RENAME TO services");
    module().ReopenBatteries(1);
    EXPECT_EQ(1, module().ServiceQuery()->rowCount());
}

// The proposal passes typed IDs; a kept proposal another program took
// meanwhile gets the next free ID, and a typed ID in use stores nothing
// (proposal and typed IDs: Cli.AddListDelete, concurrent adds: Cli.ConcurrentAdds...).
TEST_F(DataModule, ATakenProposalGetsTheNextFreeIDAndATypedIDInUseStoresNothing)
{
    addBattery(20);
    execute("UPDATE nextid SET NextID = 20 WHERE TableName = 'batteries'");
    EXPECT_EQ(module().PeekBatteryID(), 21);
    TBRASKDataModule::Battery kept;
    kept.ID = 20;   // the proposal a dialog showed before battery 20 was stored
    kept.Cells = 12;
    const AddedBattery added = records().AddBattery(kept, 20);
    EXPECT_EQ(make_tuple(added.ID, added.ProposalTaken(), kept.ID, module().PeekBatteryID()),
              make_tuple(21, true, 21, 22));
    TBRASKDataModule::Battery typed;
    typed.ID = 21;
    try {
        records().AddBattery(typed, 22);
        ADD_FAILURE() << "stored twice";
    } catch (const DatabaseError &error) {
        EXPECT_EQ(error.message(), "Ein Akku mit der ID 21 ist bereits vorhanden");
    }
    EXPECT_EQ(make_tuple(2LL, 12LL, 22LL),
              make_tuple(scalar("SELECT COUNT(*) FROM batteries"), scalar("SELECT F_Cells FROM batteries WHERE F_ID = 21"),
                         scalar("SELECT NextID FROM nextid WHERE TableName = 'batteries'")));
}

TEST_F(DataModule, CountersThatCannotGiveAValidIDAreErrors)
{
    addBattery(1);
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    execute("UPDATE nextid SET NextID = 2147483646");   // the last valid ID is still given
    records().InsertService(service);
    EXPECT_EQ(make_tuple(module().PeekBatteryID(), service.ID), make_tuple(2147483646, 2147483646));
    execute("DELETE FROM services");
    // Stored counters that cannot give a new ID; "" stands for no counter rows at all.
    for (const QString stored : {"9223372036854775807", "2147483647", "'abc'", "0", "-5", "1.5", ""}) {
        SCOPED_TRACE(stored.toStdString());
        // A server's Integer column takes no text, fraction or 64-bit number.
        if (onServer() && (stored.startsWith('\'') || stored.contains('.') || stored.size() > 10))
            continue;
        execute(stored.isEmpty() ? QStringLiteral("DELETE FROM nextid") : "UPDATE nextid SET NextID = " + stored);
        const QVariant before = query("SELECT NextID FROM nextid WHERE TableName = 'services'");
        EXPECT_THROW(module().PeekBatteryID(), DatabaseError);
        EXPECT_THROW(records().AdvanceBatteryID(), DatabaseError);
        try {
            records().InsertService(service);
            ADD_FAILURE() << "got ID " << service.ID;
        } catch (const DatabaseError &error) {
            EXPECT_TRUE(error.message().contains(stored.isEmpty() ? "services" : "keine g\u00fcltige neue ID"))
                << error.message().toStdString();
        }
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM services"), 0);
        EXPECT_EQ(query("SELECT NextID FROM nextid WHERE TableName = 'services'"), before);
    }
}

TEST_F(DataModule, DeletingABatteryOrATreatmentCascades)
{
    addBattery(1);
    const int first = addService(1, 3, 3, 4);
    addService(1, 4, 3, 4);
    addBattery(2);
    const int other = addService(2, 1, 1, 5);
    const int bare = addService(2, 0, 0, 0);   // samples, but no steps
    for (int i = 0; i < 4; ++i)
        records().InsertSample({bare, 1, i, 1000, 10, 0});
    module().ReopenBatteries(1);
    ASSERT_EQ(module().ServiceQuery()->rowCount(), 2);
    ASSERT_TRUE(records().DeleteBattery(1));
    EXPECT_FALSE(records().DeleteBattery(1));
    module().Follow({RecordChange::BatteryDeleted, 1, 0});
    EXPECT_EQ(make_tuple(1LL, 2LL, 1LL, 0LL, 9LL, 2),
              make_tuple(scalar("SELECT COUNT(*) FROM batteries"), scalar("SELECT COUNT(*) FROM services"),
                         scalar("SELECT COUNT(*) FROM sub"),
                         scalar(QString("SELECT COUNT(*) FROM samples WHERE F_ServiceID <= %1").arg(first + 1)),
                         scalar("SELECT COUNT(*) FROM samples"), module().SelectedBatteryID()));
    module().ReopenServices(bare);
    ASSERT_EQ(module().SelectedServiceID(), bare);
    ASSERT_TRUE(records().DeleteService(bare));
    module().Follow({RecordChange::ServiceDeleted, 0, bare});
    EXPECT_EQ(make_tuple(5LL, 5LL, other),
              make_tuple(scalar(QString("SELECT COUNT(*) FROM samples WHERE F_ServiceID = %1").arg(other)),
                         scalar("SELECT COUNT(*) FROM samples"), module().SelectedServiceID()));
}

TEST_F(DataModule, RowsRoundTripAndMissingOnesAreNotFound)
{
    TBRASKDataModule::Battery battery;
    battery.ID = 1;
    EXPECT_FALSE(module().LoadBattery(battery));
    addBattery(1, 4, 2, 3);
    ASSERT_TRUE(module().LoadBattery(battery));
    EXPECT_EQ(std::tie(battery.Cells, battery.Type, battery.Form, battery.SelfDischarge), std::make_tuple(4, 2, 3, -1));

    const int service = addService(1, 3, 2, 3);
    StepRecord step{service, 2};
    ASSERT_TRUE(module().GetSubService(step));
    EXPECT_EQ(step.Parameter, 200);
    StepRecord missing{service, 9};
    EXPECT_FALSE(records().StoreStepResult(missing) || module().GetSubService(missing));
    StepRecord duplicate{service, 1, 1, 100};
    EXPECT_THROW(records().InsertStep(duplicate), DatabaseError);
}

TEST_F(DataModule, TreatmentAndStepsAreStoredTogetherOrNotAtAll)
{
    addBattery(1);
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    service.Program = 3;
    // The second step's current does not fit its column: nothing is stored,
    // not even the treatment row, and the counter is not used up.
    std::vector<StepRecord> steps = {{0, 1, 0, 500}, {0, 2, 1, 40000}};
    EXPECT_THROW(records().InsertServiceWithSteps(service, steps), DatabaseError);
    EXPECT_EQ(make_tuple(0LL, 1LL), make_tuple(scalar("SELECT (SELECT COUNT(*) FROM services) + (SELECT COUNT(*) FROM sub)"),
                                               scalar("SELECT NextID FROM nextid WHERE TableName = 'services'")));

    steps[1].Parameter = 300;
    records().InsertServiceWithSteps(service, steps);
    module().Follow({RecordChange::ServiceAdded, 1, service.ID});
    EXPECT_EQ(make_tuple(1, 1, 1), make_tuple(service.ID, steps[1].ServiceID, module().SelectedServiceID()));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sub WHERE F_ServiceID = 1 AND F_State = 0"), 2);
}

// The calculated columns of the three lists, read where the grids read them.
TEST_F(DataModule, CalculatedColumnsFollowTheirFormulas)
{
    addBattery(1, 6, 2, 5);
    addBattery(2, 4, 1, 4);
    // New batteries have both unknown (-1); other programs of the family fill them in.
    execute("UPDATE batteries SET F_MaxCharge = 120, F_SelfDischarge = 0 WHERE F_ID = 2");
    module().ReopenBatteries(1);
    QueryModel &batteries = *module().BatteryQuery();
    ASSERT_EQ(batteries.rowCount(), 2);
    const auto battery = [&](int row) {
        return make_tuple(batteries.value(row, "F_Voltage").toDouble(), batteries.value(row, "F_TypeString").toString(),
                          batteries.value(row, "F_FormString").toString(),
                          batteries.value(row, "F_MaxChargeString").toString(),
                          batteries.value(row, "F_SelfDischargeString").toString());
    };
    const int lead = batteries.value(0, "F_ID").toInt() == 1 ? 0 : 1;
    EXPECT_EQ(battery(lead), make_tuple(12.0, QString("Blei"), QString("Mono"), QString("???"), QString("???")));
    EXPECT_EQ(battery(1 - lead), make_tuple(4.8, QString("NMH"), QString("Mignon"), QString("120%"), QString("0%")));

    // Durations as h:m:s, each unit modulo the next; the state and function by code.
    const int service = addService(1, 3, 7, 0);
    const std::pair<int, const char *> durations[] = {{0, "0:0:0"},       {59, "0:0:59"},    {60, "0:1:0"},
                                                      {3599, "0:59:59"},  {3660, "1:1:0"},   {3725, "1:2:5"},
                                                      {90061, "25:1:1"}};
    for (int step = 1; step <= 7; ++step) {
        StepRecord row{service, step, step % 2, 100 * step, durations[step - 1].first, step, step % 5};
        ASSERT_TRUE(records().StoreStepResult(row));
    }
    module().ReopenServices(service);
    QueryModel &steps = *module().SubServiceQuery();
    ASSERT_EQ(steps.rowCount(), 7);
    const char *const states[] = {"folgt", "l\u00e4uft", "Fehler!", "OK", "abgebrochen"};
    for (int row = 0; row < 7; ++row) {
        const int step = steps.value(row, "F_Step").toInt();
        EXPECT_EQ(make_tuple(steps.value(row, "F_DurationString").toString(), steps.value(row, "F_StateString").toString(),
                             steps.value(row, "F_FunctionString").toString()),
                  make_tuple(QString(durations[step - 1].second), QString::fromUtf8(states[step % 5]),
                             QString(step % 2 ? "Laden" : "Entladen")))
            << "step " << step;
    }
    EXPECT_EQ(DurationText(-61), "0:1:1");
    EXPECT_EQ(PercentText(-1), "???");
}

// The one reading of whole numbers typed into dialogs, grids and options.
TEST(Texts, WholeNumbersAsTypedAndNothingElse)
{
    const std::pair<const char *, std::optional<int>> cases[] = {
        {"42", 42},           {" 42 ", 42},          {"+7", 7},         {"-12", -12},      {"0", 0},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", {}}, {"", {}},  {"  ", {}},
        {"4 2", {}},          {"0x10", {}},          {"1e3", {}},       {"12,5", {}},      {"--1", {}}};
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(WholeNumber(QString::fromLatin1(text)), expected) << '"' << text << '"';
}
