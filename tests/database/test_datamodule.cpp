#include "TestDatabase.h"

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

// The proposal reaching a typed ID: accepting advances first, then the post
// fails and leaves no half-made row (proposal and typed IDs: Cli.AddListDelete).
TEST_F(DataModule, ProposalReachingATypedIDAdvancesAndTheDuplicateLeavesNoRow)
{
    addBattery(20);
    execute("UPDATE nextid SET NextID = 20 WHERE TableName = 'batteries'");
    module().AdvanceBatteryID();
    EXPECT_THROW(addBattery(20, 12, 2), DatabaseError);
    EXPECT_EQ(module().PeekBatteryID(), 21);
    EXPECT_EQ(make_tuple(1LL, 6LL), make_tuple(scalar("SELECT COUNT(*) FROM batteries"),
                                               scalar("SELECT F_Cells FROM batteries WHERE F_ID = 20")));
}

TEST_F(DataModule, CountersThatCannotGiveAValidIDAreErrors)
{
    addBattery(1);
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    execute("UPDATE nextid SET NextID = 2147483646");   // the last valid ID is still given
    module().InsertService(service);
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
        EXPECT_THROW(module().AdvanceBatteryID(), DatabaseError);
        try {
            module().InsertService(service);
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
        module().InsertSample({bare, 1, i, 1000, 10, 0});
    module().ReopenBatteries(1);
    ASSERT_EQ(module().ServiceQuery()->rowCount(), 2);
    module().DeleteSelectedBattery();
    EXPECT_EQ(make_tuple(1LL, 2LL, 1LL, 0LL, 9LL, 2),
              make_tuple(scalar("SELECT COUNT(*) FROM batteries"), scalar("SELECT COUNT(*) FROM services"),
                         scalar("SELECT COUNT(*) FROM sub"),
                         scalar(QString("SELECT COUNT(*) FROM samples WHERE F_ServiceID <= %1").arg(first + 1)),
                         scalar("SELECT COUNT(*) FROM samples"), module().SelectedBatteryID()));
    module().ReopenServices(bare);
    ASSERT_EQ(module().SelectedServiceID(), bare);
    module().DeleteSelectedService();
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
    EXPECT_FALSE(module().StoreStepResult(missing) || module().GetSubService(missing));
    StepRecord duplicate{service, 1, 1, 100};
    EXPECT_THROW(module().InsertStep(duplicate), DatabaseError);
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
    EXPECT_THROW(module().InsertServiceWithSteps(service, steps), DatabaseError);
    EXPECT_EQ(make_tuple(0LL, 1LL), make_tuple(scalar("SELECT (SELECT COUNT(*) FROM services) + (SELECT COUNT(*) FROM sub)"),
                                               scalar("SELECT NextID FROM nextid WHERE TableName = 'services'")));

    steps[1].Parameter = 300;
    module().InsertServiceWithSteps(service, steps);
    EXPECT_EQ(make_tuple(1, 1, 1), make_tuple(service.ID, steps[1].ServiceID, module().SelectedServiceID()));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sub WHERE F_ServiceID = 1 AND F_State = 0"), 2);
}
