// Treatment construction, polling and step following against a scripted charger.

#include "TreatmentFixture.h"

using namespace TreatmentTest;

TEST(FlagsToFunction, ChargeBitWinsThenDischargeElseIdle)
{
    const int expected[] = {Warten, Laden, Entladen, Laden, Warten};
    for (uint8_t flags = 0; flags <= 4; ++flags)
        EXPECT_EQ(expected[flags], FlagsToFunction(flags)) << int(flags);
}

TEST(ParseUserSteps, RowsWithFunctionAndCurrentAreStepsUnreadableCellsAreRefused)
{
    const std::vector<UserStep> steps =
        ParseUserSteps({{"L", "100", "600"}, {"", "", ""}, {"E", "50", ""}, {"L", "", "30"}, {"", "70", ""}});
    ASSERT_EQ(2u, steps.size());
    EXPECT_EQ(Laden, steps[0].Function);
    EXPECT_EQ(100, steps[0].Current);
    EXPECT_EQ(600, steps[0].TimeLimit);
    EXPECT_EQ(Entladen, steps[1].Function);
    EXPECT_EQ(50, steps[1].Current);
    EXPECT_EQ(0, steps[1].TimeLimit);

    const std::vector<UserGridRow> bad = {{"X", "100", ""}, {"L", "viel", ""}, {"L", "-5", ""}, {"L", "100", "-1"}};
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_THROW(ParseUserSteps({bad[i]}), UserStepError) << "row " << i;
    try {
        ParseUserSteps({{"", "", ""}, {"Q", "100", ""}});
        FAIL();
    } catch (const UserStepError &error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("Zeile 2"));
    }
}

class ServiceTest : public TreatmentFixture {
protected:
    void ExpectStep(int serviceID, int step, int state, int duration, int capacity)
    {
        const StepRecord row = StepRow(serviceID, step);
        EXPECT_EQ(state, row.State) << "step " << step;
        EXPECT_EQ(duration, row.Duration) << "step " << step;
        EXPECT_EQ(capacity, row.Capacity) << "step " << step;
    }
};

TEST_F(ServiceTest, ProgramThreeRunsThroughDischargeChargeAndIdleWithTheExactWire)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    database_->SetMinDeltaU(100000);   // only a step change stores a sample here
    database_->SetMinDeltaI(100000);
    Service *service = StartStandard(3, 500, 200);

    charger.SetStatus(0, Discharging(60, 10));
    ASSERT_EQ(service, manager_->Tick(host_));
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 1).State);
    EXPECT_EQ(Folgt, StepRow(service->ID(), 2).State);
    charger.SetStatus(0, Discharging(600, 100));
    manager_->Tick(host_);
    EXPECT_TRUE(SamplesOf(service->ID()).empty());

    charger.SetStatus(0, Charging(30, 5));
    manager_->Tick(host_);
    ExpectStep(service->ID(), 1, OK, 600, 100);
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 2).State);
    const std::vector<Sample> samples = SamplesOf(service->ID());
    ASSERT_EQ(1u, samples.size()) << "the change sample is stored whatever the deltas";
    EXPECT_EQ(2, samples[0].Step);
    EXPECT_EQ(630, samples[0].Time);
    EXPECT_EQ(500, samples[0].Current);

    charger.SetStatus(0, Charging(1200, 400));
    manager_->Tick(host_);
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    ExpectStep(service->ID(), 2, OK, 1200, 400);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(nullptr, manager_->Tick(host_)) << "an ended treatment is not polled";
    // Stop, program, start; five status reads; the ended treatment stops its terminal.
    Bytes expected = {0x13, 0x14, 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x00, 0xC8, 0x01, 0xF4, 0x15};
    for (int poll = 0; poll < 5; ++poll)
        expected.insert(expected.end(), {0x11, 0x21, 0x12});
    expected.push_back(0x13);
    EXPECT_EQ(expected, charger.Wire());
}

TEST_F(ServiceTest, ProgramOneIdleAtTheFirstPollEndsAtOnce)
{
    AttachCharger(1, 1).SetStatus(0, Idle());
    Service *service = StartStandard(1);
    manager_->Tick(host_);
    EXPECT_EQ(OK, StepRow(service->ID(), 1).State);
    EXPECT_EQ(0, StepRow(service->ID(), 1).Duration);
    EXPECT_EQ(Service::Ended, service->ServiceState());
}

TEST_F(ServiceTest, ProgramFourCreatesWaitingStepsAndChargerIdleInStepOneAbortsStepTwo)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(4, 500, 200);
    ASSERT_EQ(3, service->StepCount());
    const int functions[] = {Laden, Entladen, Laden}, currents[] = {500, 200, 500};
    for (int step = 1; step <= 3; ++step) {
        EXPECT_EQ(functions[step - 1], StepRow(service->ID(), step).Function);
        EXPECT_EQ(currents[step - 1], StepRow(service->ID(), step).Parameter);
        ExpectStep(service->ID(), step, Folgt, 0, 0);
    }
    TBRASKDataModule::Service record;
    record.ID = service->ID();
    ASSERT_TRUE(database_->LoadService(record));
    EXPECT_EQ(4, record.Program);
    EXPECT_TRUE(charger.Messages().empty()) << "the terminal is touched only by the first poll";

    charger.SetStatus(0, Charging(100, 50));
    manager_->Tick(host_);
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    ExpectStep(service->ID(), 1, OK, 100, 50);
    ExpectStep(service->ID(), 2, Abgebrochen, 0, 0);   // never ran
    EXPECT_EQ(Folgt, StepRow(service->ID(), 3).State);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Bytes{0x13}, charger.Messages().back());
}

TEST_F(ServiceTest, UserStepTimeLimitStopsAndStartsTheNextStep)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    const std::vector<UserStep> steps = ParseUserSteps({{"L", "100", "600"}, {"", "", ""}, {"E", "50", ""}});
    Service *service = manager_->StartUserService(host_, BatteryID, steps, "Ohmrida an COM1");
    ASSERT_EQ(2, service->StepCount());
    EXPECT_EQ(0, service->Program());

    charger.SetStatus(0, Charging(300, 25, 1300));
    manager_->Tick(host_);
    Bytes program = charger.ProgramOf(0);
    ASSERT_EQ(11u, program.size());
    EXPECT_EQ(1, program[1]) << "a Laden step is loaded as program 1";
    EXPECT_EQ((Bytes{0x00, 0x64, 0x00, 0x64}), Bytes(program.begin() + 7, program.end()));

    charger.ClearMessages();
    charger.SetStatus(0, Charging(600, 50, 1400));
    manager_->Tick(host_);
    ExpectStep(service->ID(), 1, OK, 300, 25);
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 2).State);
    EXPECT_EQ(Service::Running, service->ServiceState());
    program = charger.ProgramOf(0);
    const std::vector<Bytes> expected = {{0x11}, {0x21}, {0x12}, {0x13}, {0x13}, program, {0x15}};
    EXPECT_EQ(expected, charger.Messages());
    EXPECT_EQ(2, program[1]) << "an Entladen step is loaded as program 2";
    EXPECT_EQ((Bytes{0x00, 0x32, 0x00, 0x32}), Bytes(program.begin() + 7, program.end()));

    const Sample last = SamplesOf(service->ID()).back();
    EXPECT_EQ(2, last.Step);
    EXPECT_EQ(300, last.Time) << "the stopped step counts as an idle reading";
}

TEST_F(ServiceTest, ErrorCodeInStepTwoFailsTheStepWithThatAnswer)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3);
    for (const ChannelStatus &status : {Discharging(500, 80), Charging(10, 1), ChannelStatus{0x01, 5, 1350, 17, 42}}) {
        charger.SetStatus(0, status);
        manager_->Tick(host_);
    }
    // A terminal still showing its function does not turn the error into OK.
    ExpectStep(service->ID(), 2, Fehler, 42, 17);
    EXPECT_EQ(OK, StepRow(service->ID(), 1).State);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Bytes{0x13}, charger.Messages().back());
}

TEST_F(ServiceTest, SampleIsStoredWhenVoltageMovedAtLeastMinDeltaU)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(1);
    for (int voltage : {1200, 1205, 1210}) {
        charger.SetStatus(0, Charging(60, 10, voltage));
        manager_->Tick(host_);
    }
    const std::vector<Sample> samples = SamplesOf(service->ID());
    ASSERT_EQ(2u, samples.size());
    EXPECT_EQ(1200, samples[0].Voltage);
    EXPECT_EQ(1210, samples[1].Voltage);
}

TEST_F(ServiceTest, FailedStatusReadChangesNothing)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3);
    charger.SetStatus(0, Discharging(60, 10, 1200));
    manager_->Tick(host_);
    const size_t callsBefore = host_.Window(0)->calls.size();
    const size_t samplesBefore = SamplesOf(service->ID()).size();

    charger.SetSilent(true);
    EXPECT_EQ(service, manager_->Tick(host_));
    EXPECT_FALSE(service->LastPollAnswered());
    EXPECT_EQ(callsBefore, host_.Window(0)->calls.size()) << "no reading, nothing to show";
    EXPECT_EQ(samplesBefore, SamplesOf(service->ID()).size());
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 1).State);
    EXPECT_EQ(60, service->LastStepTime());
    EXPECT_EQ(10, service->LastCapacity());
    EXPECT_EQ(Service::Running, service->ServiceState());
    EXPECT_EQ("0\t2\n0\t-\n", Log());

    charger.SetSilent(false);
    charger.SetStatus(0, Charging(5, 1));
    manager_->Tick(host_);
    ExpectStep(service->ID(), 1, OK, 60, 10);   // the values before the missed poll stayed
}
