// The service manager: removal at the cursor, start and stop, the tick's feeding of windows and log.txt.

#include "TreatmentFixture.h"

using namespace TreatmentTest;
using std::make_tuple;

using ServiceManagerTest = TreatmentFixture;

TEST_F(ServiceManagerTest, RemovalAtTheCursorAndOfTheLastTreatment)
{
    for (int port = 1; port <= 3; ++port)
        AttachCharger(port, port).SetStatus(0, Charging(60, 10));
    Service *a = StartStandard(1), *b = StartStandard(1, 500, 200, "Lumo an COM2"),
            *c = StartStandard(1, 500, 200, "Tesk an COM3");
    Sample sample;
    EXPECT_EQ(a, manager_->PollNext(sample));
    ASSERT_EQ(1, manager_->Cursor());
    manager_->Remove(b);
    EXPECT_EQ(1, manager_->Cursor());
    EXPECT_EQ(c, manager_->PollNext(sample)) << "the cursor moved on to the following treatment";

    Service *d = manager_->Add(std::make_unique<Service>(*database_, BatteryID, *terminals_->Get("Lumo an COM2"), 1,
                                                         500, 200));
    EXPECT_EQ(d, manager_->PollNext(sample));
    manager_->Remove(a);   // before the cursor, which stays past the end
    EXPECT_EQ(c, manager_->PollNext(sample)) << "past the end, polling starts again at the first";
    ASSERT_EQ(1, manager_->Cursor());
    manager_->Remove(d);   // the last one, at the cursor: the cursor is past the end
    EXPECT_EQ(1, manager_->Cursor());
    EXPECT_EQ(c, manager_->PollNext(sample));
    manager_->Remove(c);
    EXPECT_EQ(nullptr, manager_->PollNext(sample));
    EXPECT_EQ(0, manager_->Count());
}

TEST_F(ServiceManagerTest, StartSetsUpThePageAndTheTickFeedsTheWindowsAndTheLog)
{
    AttachCharger(1, 1).SetStatus(0, Charging(75, 12, 1305));
    pages_.diagrams.push_back(std::make_unique<RecordingDiagram>());
    Service *service = StartStandard(1, 500, 200);
    ASSERT_EQ(1u, pages_.pages.size());
    RecordingControlWindow *window = pages_.Window(0);
    EXPECT_EQ(make_tuple(BatteryID, service), make_tuple(pages_.pages[0].batteryID,
                                                         manager_->ServiceOf(pages_.pages[0].serviceID)));
    EXPECT_EQ("Ohmrida an COM1: Akku 7, 4 V", window->setup) << "4 x 1.2 V with the fraction dropped";

    window->calls.clear();
    Tick();
    const std::vector<std::string> fed = {"ShowTime 75",       "ShowVoltage 1.305", "ShowCurrent 0.5", "AddVoltagePoint",
                                          "SetStepFunction 1", "ShowCapacity 12",   "RefreshSteps"};
    EXPECT_EQ(fed, window->calls);
    const std::vector<LiveSample> &live = pages_.diagrams[0]->samples;
    ASSERT_EQ(2u, live.size());
    // Diagrams get the current in mA.
    EXPECT_EQ(make_tuple(0, 1.305, 1, 500.0, 75.0, int(Laden), service->ID()),
              make_tuple(live[0].kind, live[0].value, live[1].kind, live[1].value, live[1].time, live[1].phase, live[1].serviceID));
    window->calls.clear();
    Tick();
    EXPECT_EQ(6u, window->calls.size()) << "no step row written, no refresh";
    EXPECT_EQ("0\t1\n0\t1\n", Log());
    // A new manager starts log.txt anew.
    manager_.reset();
    manager_ = std::make_unique<TServiceManager>(*database_, *terminals_);
    EXPECT_EQ("", Log());
}

TEST_F(ServiceManagerTest, StopAbortsARunningTreatmentAndOnlyRemovesAnEndedOne)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    AttachCharger(2, 2).SetStatus(0, Idle());
    charger.SetStatus(0, Discharging(120, 6));
    Service *service = StartStandard(3, 500, 200);
    Service *ended = StartStandard(1, 500, 200, "Lumo an COM2");
    Tick();
    Tick();
    ASSERT_EQ(Service::Ended, ended->ServiceState());
    const int id = service->ID(), endedID = ended->ID();
    charger.ClearMessages();
    Stop(manager_->ServiceOf(pages_.pages[0].serviceID));
    EXPECT_EQ((std::vector<Bytes>{Bytes{0x13}}), charger.Messages());
    EXPECT_EQ(make_tuple(Abgebrochen, Folgt), make_tuple(StepRow(id, 1).State, StepRow(id, 2).State));
    EXPECT_FALSE(manager_->HasService(id));
    EXPECT_EQ(make_tuple(size_t(1), 1), make_tuple(pages_.pages.size(), pages_.removed));
    EXPECT_FALSE(SamplesOf(id).empty()) << "the records stay";

    chargers_[1]->ClearMessages();
    Stop(ended);
    EXPECT_TRUE(chargers_[1]->Messages().empty()) << "an ended treatment is not stopped again";
    // Idle at its first poll: a step no poll saw running is not "OK".
    EXPECT_EQ(make_tuple(Abgebrochen, 0, 0), Step(endedID, 1));
    EXPECT_TRUE(pages_.pages.empty());
}
