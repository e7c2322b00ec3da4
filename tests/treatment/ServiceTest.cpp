// Treatment construction, polling and step following against a scripted charger.

#include "TreatmentFixture.h"

using namespace TreatmentTest;

namespace {

ChannelStatus Discharging(int time, int capacity, int voltage = 1200)
{
    return {0x02, 0, voltage, capacity, time};
}
ChannelStatus Charging(int time, int capacity, int voltage = 1300)
{
    return {0x01, 0, voltage, capacity, time};
}
ChannelStatus Idle(int voltage = 1250)
{
    return {0x00, 0, voltage, 0, 0};
}

Bytes Command(uint8_t code)
{
    return Bytes{code};
}

} // namespace

TEST(FlagsToFunction, ChargeBitWinsThenDischargeElseIdle)
{
    EXPECT_EQ(Laden, FlagsToFunction(0x01));
    EXPECT_EQ(Laden, FlagsToFunction(0x03));
    EXPECT_EQ(Entladen, FlagsToFunction(0x02));
    EXPECT_EQ(Warten, FlagsToFunction(0x00));
    EXPECT_EQ(Warten, FlagsToFunction(0x04));
}

TEST(ParseUserSteps, RowsWithFunctionAndCurrentAreSteps)
{
    const std::vector<UserGridRow> rows = {
        {"L", "100", "600"}, {"", "", ""}, {"E", "50", ""}, {"L", "", "30"}, {"", "70", ""}};
    const std::vector<UserStep> steps = ParseUserSteps(rows);
    ASSERT_EQ(2u, steps.size());
    EXPECT_EQ(Laden, steps[0].Function);
    EXPECT_EQ(100, steps[0].Current);
    EXPECT_EQ(600, steps[0].TimeLimit);
    EXPECT_EQ(Entladen, steps[1].Function);
    EXPECT_EQ(50, steps[1].Current);
    EXPECT_EQ(0, steps[1].TimeLimit);
}

TEST(ParseUserSteps, UnreadableCellsAreRefusedWithTheRow)
{
    EXPECT_THROW(ParseUserSteps({{"X", "100", ""}}), UserStepError);
    EXPECT_THROW(ParseUserSteps({{"L", "viel", ""}}), UserStepError);
    EXPECT_THROW(ParseUserSteps({{"L", "-5", ""}}), UserStepError);
    EXPECT_THROW(ParseUserSteps({{"L", "100", "-1"}}), UserStepError);
    try {
        ParseUserSteps({{"", "", ""}, {"Q", "100", ""}});
        FAIL();
    } catch (const UserStepError &error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("Zeile 2"));
    }
}

class ServiceTest : public TreatmentFixture {};

TEST_F(ServiceTest, StandardProgramFourCreatesThreeWaitingSteps)
{
    AttachCharger(1, 1);
    Service *service = StartStandard(4, 500, 200);
    ASSERT_EQ(3, service->StepCount());
    const int functions[] = {Laden, Entladen, Laden};
    const int currents[] = {500, 200, 500};
    for (int step = 1; step <= 3; ++step) {
        const StepRecord row = StepRow(service->ID(), step);
        EXPECT_EQ(functions[step - 1], row.Function);
        EXPECT_EQ(currents[step - 1], row.Parameter);
        EXPECT_EQ(Folgt, row.State);
        EXPECT_EQ(0, row.Duration);
        EXPECT_EQ(0, row.Capacity);
    }
    TBRASKDataModule::Service record;
    record.ID = service->ID();
    ASSERT_TRUE(database_->LoadService(record));
    EXPECT_EQ(BatteryID, record.BatteryID);
    EXPECT_EQ(4, record.Program);
    EXPECT_EQ(Service::New, service->ServiceState());
    EXPECT_TRUE(chargers_[0]->Messages().empty()) << "the terminal is touched only by the first poll";
}

TEST_F(ServiceTest, ProgramThreeRunsThroughDischargeChargeAndIdle)
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
    StepRecord first = StepRow(service->ID(), 1);
    EXPECT_EQ(OK, first.State);
    EXPECT_EQ(600, first.Duration);
    EXPECT_EQ(100, first.Capacity);
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 2).State);
    std::vector<Sample> samples = SamplesOf(service->ID());
    ASSERT_EQ(1u, samples.size()) << "the change sample is stored whatever the deltas";
    EXPECT_EQ(2, samples[0].Step);
    EXPECT_EQ(630, samples[0].Time);
    EXPECT_EQ(500, samples[0].Current);

    charger.SetStatus(0, Charging(1200, 400));
    manager_->Tick(host_);
    charger.ClearMessages();
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    const StepRecord second = StepRow(service->ID(), 2);
    EXPECT_EQ(OK, second.State);
    EXPECT_EQ(1200, second.Duration);
    EXPECT_EQ(400, second.Capacity);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    const std::vector<Bytes> wire = charger.Messages();
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(Command(0x13), wire.back()) << "the ended treatment stops its terminal";
    EXPECT_EQ(nullptr, manager_->Tick(host_)) << "an ended treatment is not polled";
}

TEST_F(ServiceTest, ProgramOneIdleAtTheFirstPollEndsAtOnce)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(1);
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    const StepRecord step = StepRow(service->ID(), 1);
    EXPECT_EQ(OK, step.State);
    EXPECT_EQ(0, step.Duration);
    EXPECT_EQ(Service::Ended, service->ServiceState());
}

TEST_F(ServiceTest, ProgramFourChargerIdleDuringStepOneAbortsStepTwo)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(4);
    charger.SetStatus(0, Charging(100, 50));
    manager_->Tick(host_);
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    const StepRecord first = StepRow(service->ID(), 1);
    EXPECT_EQ(OK, first.State);
    EXPECT_EQ(100, first.Duration);
    EXPECT_EQ(50, first.Capacity);
    const StepRecord second = StepRow(service->ID(), 2);
    EXPECT_EQ(Abgebrochen, second.State);
    EXPECT_EQ(0, second.Duration) << "the aborted step never ran";
    EXPECT_EQ(0, second.Capacity);
    EXPECT_EQ(Folgt, StepRow(service->ID(), 3).State);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Command(0x13), charger.Messages().back());
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
    const StepRecord first = StepRow(service->ID(), 1);
    EXPECT_EQ(OK, first.State);
    EXPECT_EQ(300, first.Duration);
    EXPECT_EQ(25, first.Capacity);
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 2).State);
    EXPECT_EQ(Service::Running, service->ServiceState());
    const std::vector<Bytes> expected = {Command(0x11), Command(0x21), Command(0x12), Command(0x13),
                                         Command(0x13), charger.ProgramOf(0), Command(0x15)};
    EXPECT_EQ(expected, charger.Messages());
    program = charger.ProgramOf(0);
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
    charger.SetStatus(0, Discharging(500, 80));
    manager_->Tick(host_);
    charger.SetStatus(0, Charging(10, 1));
    manager_->Tick(host_);
    charger.SetStatus(0, ChannelStatus{0x01, 5, 1350, 17, 42});
    manager_->Tick(host_);
    const StepRecord second = StepRow(service->ID(), 2);
    EXPECT_EQ(Fehler, second.State) << "a terminal still showing its function does not turn the error into OK";
    EXPECT_EQ(42, second.Duration);
    EXPECT_EQ(17, second.Capacity);
    EXPECT_EQ(OK, StepRow(service->ID(), 1).State);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Command(0x13), charger.Messages().back());
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

TEST_F(ServiceTest, WireOfOneStandardTreatment)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3, 500, 200);
    charger.SetStatus(0, Discharging(60, 10));
    manager_->Tick(host_);
    charger.SetStatus(0, Charging(60, 10));
    manager_->Tick(host_);
    charger.SetStatus(0, Idle());
    manager_->Tick(host_);
    ASSERT_EQ(Service::Ended, service->ServiceState());
    const Bytes status = {0x11, 0x21, 0x12};
    Bytes expected = {0x13, 0x14, 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x00, 0xC8, 0x01, 0xF4, 0x15};
    for (int poll = 0; poll < 3; ++poll)
        expected.insert(expected.end(), status.begin(), status.end());
    expected.push_back(0x13);
    EXPECT_EQ(expected, charger.Wire());
}

TEST_F(ServiceTest, FailedStatusReadChangesNothing)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3);
    charger.SetStatus(0, Discharging(60, 10, 1200));
    manager_->Tick(host_);
    RecordingControlWindow *window = host_.Window(0);
    const size_t callsBefore = window->calls.size();
    const size_t samplesBefore = SamplesOf(service->ID()).size();

    charger.SetSilent(true);
    EXPECT_EQ(service, manager_->Tick(host_));
    EXPECT_FALSE(service->LastPollAnswered());
    EXPECT_EQ(callsBefore, window->calls.size()) << "no reading, nothing to show";
    EXPECT_EQ(samplesBefore, SamplesOf(service->ID()).size());
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 1).State);
    EXPECT_EQ(60, service->LastStepTime());
    EXPECT_EQ(10, service->LastCapacity());
    EXPECT_EQ(Service::Running, service->ServiceState());
    EXPECT_EQ("0\t2\n0\t-\n", Log());

    charger.SetSilent(false);
    charger.SetStatus(0, Charging(5, 1));
    manager_->Tick(host_);
    const StepRecord first = StepRow(service->ID(), 1);
    EXPECT_EQ(OK, first.State);
    EXPECT_EQ(60, first.Duration) << "the values before the missed poll stayed";
    EXPECT_EQ(10, first.Capacity);
}
