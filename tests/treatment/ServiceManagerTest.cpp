// The service manager: removal at the cursor, start and stop, the tick's feeding of windows and log.txt.

#include "tests/treatment/TreatmentFixture.h"

using namespace TreatmentTest;
using std::make_tuple;

using ServiceManagerTest = TreatmentFixture;

TEST_F(ServiceManagerTest, EveryTickPollsEachRunningTreatmentOnceAndPortsAreRoundsOfTheirOwn)
{
    AttachCharger(1, 1).SetStatus(0, Charging(60, 10));
    ScriptedCharger &varn = AttachCharger(2, Ohmrida::DeviceVarn);
    for (uint8_t channel = 0; channel < 3; ++channel)
        varn.SetStatus(uint8_t(channel * 0x40), Charging(60, 10));
    AttachCharger(3, 2).SetStatus(0, Idle());
    Service *a = StartStandard(1);
    std::vector<Service *> channels;
    for (int channel = 1; channel <= 3; ++channel)
        channels.push_back(StartStandard(1, 500, 200, "Varn/Akku" + std::to_string(channel) + " an COM2"));
    Service *ended = StartStandard(1, 500, 200, "Lumo an COM3");

    std::vector<TServiceManager::PortRound> rounds = manager_->TakeRounds({2});
    ASSERT_EQ(2u, rounds.size()) << "COM2 is still busy with an earlier round";
    EXPECT_TRUE(manager_->IsLent(a));
    EXPECT_FALSE(manager_->IsLent(channels[0]));
    for (auto &round : rounds)
        round.Run();
    TServiceManager::TickResult first = manager_->FinishRounds(std::move(rounds));
    EXPECT_EQ(2u, first.Polled.size());
    EXPECT_FALSE(manager_->IsLent(a));
    ASSERT_EQ(Service::Ended, ended->ServiceState());

    rounds = manager_->TakeRounds();
    ASSERT_EQ(2u, rounds.size()) << "the ended treatment's port has no round";
    ASSERT_EQ(3u, rounds[1].Polls.size());
    EXPECT_EQ(channels, (std::vector<Service *>{rounds[1].Polls[0].Polled, rounds[1].Polls[1].Polled,
                                                rounds[1].Polls[2].Polled}))
        << "one port's treatments in list order";
    for (auto &round : rounds)
        round.Run();
    const TServiceManager::TickResult second = manager_->FinishRounds(std::move(rounds));
    EXPECT_EQ(4u, second.Polled.size());
    for (Service *service : second.Polled)
        EXPECT_EQ(1u, SamplesOf(service->ID()).size()) << "stored in the tick's commit";

    manager_->Remove(channels[1]);
    EXPECT_EQ(3u, manager_->Tick().Polled.size());
    EXPECT_EQ("0\t1\n0\t0\n0\t1\n0\t1\n40\t1\n80\t1\n0\t1\n0\t1\n80\t1\n", Log());
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
