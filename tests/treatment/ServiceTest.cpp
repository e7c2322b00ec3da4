// Treatment construction, polling and step following against a scripted charger.

#include "tests/treatment/TreatmentFixture.h"

using namespace TreatmentTest;
using std::make_tuple;

using ServiceTest = TreatmentFixture;

TEST_F(ServiceTest, ProgramThreeRunsThroughDischargeChargeAndIdleWithTheExactWire)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    database_->SetMinDeltaU(100000);   // only a step change stores a sample here
    database_->SetMinDeltaI(100000);
    Service *service = StartStandard(3, 500, 200);
    const int id = service->ID();

    // Capacities as 200 mA and 500 mA move them: more would be implausible.
    charger.SetStatus(0, Discharging(60, 3));
    ASSERT_EQ(service, Tick());
    EXPECT_EQ(make_tuple(Laeuft, Folgt), make_tuple(StepRow(id, 1).State, StepRow(id, 2).State));
    charger.SetStatus(0, Discharging(600, 33));
    Tick();
    EXPECT_TRUE(SamplesOf(id).empty());

    charger.SetStatus(0, Charging(30, 4));
    Tick();
    EXPECT_EQ(make_tuple(OK, 600, 33), Step(id, 1));
    EXPECT_EQ(Laeuft, StepRow(id, 2).State);
    const std::vector<Sample> samples = SamplesOf(id);
    ASSERT_EQ(1u, samples.size()) << "the change sample is stored whatever the deltas";
    EXPECT_EQ(make_tuple(2, 630, 500), make_tuple(samples[0].Step, samples[0].Time, samples[0].Current));

    charger.SetStatus(0, Charging(1200, 166));
    Tick();
    charger.SetStatus(0, Idle());
    Tick();
    EXPECT_EQ(make_tuple(OK, 1200, 166), Step(id, 2));
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(1u, SamplesOf(id).size()) << "the idle reading after the last step is no sample of a step 3";
    EXPECT_EQ(nullptr, Tick()) << "an ended treatment is not polled";
    // Stop, program, start; five polls whose two step ends are each read
    // twice; the ended treatment stops its terminal.
    Bytes expected = {0x13, 0x14, 0x03, 0x01, 0x01, 0x04, 0x07, 0x08, 0x00, 0xC8, 0x01, 0xF4, 0x15};
    for (int read = 0; read < 7; ++read)
        expected.insert(expected.end(), {0x11, 0x21, 0x12});
    expected.push_back(0x13);
    EXPECT_EQ(expected, charger.Wire());
}

TEST_F(ServiceTest, ProgramFourCreatesWaitingStepsAndChargerIdleInStepOneAbortsStepTwo)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(4, 500, 200);
    const int id = service->ID();
    ASSERT_EQ(3, service->StepCount());
    const int functions[] = {Laden, Entladen, Laden}, currents[] = {500, 200, 500};
    for (int step = 1; step <= 3; ++step) {
        const StepRecord row = StepRow(id, step);
        EXPECT_EQ(make_tuple(functions[step - 1], currents[step - 1], int(Folgt), 0, 0),
                  make_tuple(row.Function, row.Parameter, row.State, row.Duration, row.Capacity));
    }
    EXPECT_TRUE(charger.Messages().empty()) << "the terminal is touched only by the first poll";

    charger.SetStatus(0, Charging(100, 13));
    Tick();
    charger.SetStatus(0, Idle());
    Tick();
    EXPECT_EQ(make_tuple(OK, 100, 13), Step(id, 1));
    EXPECT_EQ(make_tuple(Abgebrochen, 0, 0), Step(id, 2));   // never ran
    EXPECT_EQ(Folgt, StepRow(id, 3).State);
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Bytes{0x13}, charger.Messages().back());
}

TEST_F(ServiceTest, UserStepTimeLimitStopsAndStartsTheNextStep)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    const std::vector<UserStep> steps = ParseUserSteps({{"L", "100", "600"}, {"", "", ""}, {"E", "50", ""}});
    Service *service = Started(manager_->StartUserService(BatteryID, steps, "Ohmrida an COM1"));
    ASSERT_EQ(2, service->StepCount());

    charger.SetStatus(0, Charging(300, 8, 1300));
    Tick();
    Bytes program = charger.ProgramOf(0);
    ASSERT_EQ(11u, program.size());
    EXPECT_EQ(1, program[1]) << "a Laden step is loaded as program 1";
    EXPECT_EQ((Bytes{0x00, 0x64, 0x00, 0x64}), Bytes(program.begin() + 7, program.end()));

    charger.ClearMessages();
    charger.SetStatus(0, Charging(600, 16, 1400));
    Tick();
    EXPECT_EQ(make_tuple(OK, 300, 8), Step(service->ID(), 1));
    EXPECT_EQ(Laeuft, StepRow(service->ID(), 2).State);
    EXPECT_EQ(Service::Running, service->ServiceState());
    program = charger.ProgramOf(0);
    // The limit is read twice before the step is stopped.
    EXPECT_EQ((std::vector<Bytes>{{0x11}, {0x21}, {0x12}, {0x11}, {0x21}, {0x12}, {0x13}, {0x13}, program, {0x15}}),
              charger.Messages());
    EXPECT_EQ(2, program[1]) << "an Entladen step is loaded as program 2";
    EXPECT_EQ((Bytes{0x00, 0x32, 0x00, 0x32}), Bytes(program.begin() + 7, program.end()));
    const Sample last = SamplesOf(service->ID()).back();
    EXPECT_EQ(make_tuple(2, 300), make_tuple(last.Step, last.Time)) << "the stopped step counts as an idle reading";
}

TEST_F(ServiceTest, FailedStatusReadChangesNothingAndAnErrorCodeFailsTheStep)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(3);
    const int id = service->ID();
    charger.SetStatus(0, Discharging(60, 3, 1200));
    Tick();
    const size_t calls = pages_.Window(0)->calls.size(), samples = SamplesOf(id).size();
    charger.SetSilent(true);
    EXPECT_EQ(service, Tick());
    EXPECT_EQ(make_tuple(false, calls, samples, 60, 3, Service::Running),
              make_tuple(service->LastPollAnswered(), pages_.Window(0)->calls.size(), SamplesOf(id).size(),
                         service->LastStepTime(), service->LastCapacity(), service->ServiceState()));
    EXPECT_EQ(Laeuft, StepRow(id, 1).State);
    EXPECT_EQ("0\t2\n0\t-\n", Log());

    charger.SetSilent(false);
    for (const ChannelStatus &status : {Charging(5, 1), ChannelStatus{0x01, 5, 1350, 5, 42}}) {
        charger.SetStatus(0, status);
        Tick();
    }
    EXPECT_EQ(make_tuple(OK, 60, 3), Step(id, 1));   // the values before the missed poll stayed
    // A terminal still showing its function does not turn the error into OK.
    EXPECT_EQ(make_tuple(Fehler, 42, 5), Step(id, 2));
    EXPECT_EQ(Service::Ended, service->ServiceState());
    EXPECT_EQ(Bytes{0x13}, charger.Messages().back());
}

// A start that could not reach the charger (its port missing, or held by
// another program past its wait) counts for nothing: the step stays "folgt"
// and the next poll sends the whole start again.
TEST_F(ServiceTest, AStartThatCouldNotBeSentStaysFolgtAndGoesOutWithTheNextPoll)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    Service *service = StartStandard(1, 500, 200);
    const QByteArray device = qgetenv("BRASKON_COM1");
    qputenv("BRASKON_COM1", "/nonexistent/com1");
    EXPECT_EQ(service, Tick());
    EXPECT_EQ(make_tuple(false, false, int(Folgt)),
              make_tuple(service->LastPollSent(), service->LastPollAnswered(), StepRow(service->ID(), 1).State));
    EXPECT_TRUE(charger.Messages().empty());
    qputenv("BRASKON_COM1", device);
    charger.SetStatus(0, Charging(5, 1));
    Tick();
    EXPECT_EQ(make_tuple(true, int(Laeuft)), make_tuple(service->LastPollAnswered(), StepRow(service->ID(), 1).State));
    const Bytes program = charger.ProgramOf(0);
    EXPECT_EQ((std::vector<Bytes>{{0x13}, program, {0x15}, {0x11}, {0x21}, {0x12}}), charger.Messages());
    EXPECT_EQ("0\t-\n0\t1\n", Log());
}

// A sample is stored when voltage or current differ from the last stored
// sample by at least the minimum difference, either way; smaller changes,
// however many, are not. A lead battery reports its measured charge current.
TEST_F(ServiceTest, ChangesOfAtLeastTheMinimumDifferenceFromTheLastStoredSampleAreStored)
{
    ScriptedCharger &charger = AttachCharger(1, 1);
    AddBattery(8, 1800, 2, 6);
    database_->SetMinDeltaU(10);
    database_->SetMinDeltaI(5);
    Service *service = Started(manager_->StartStandardService(8, 1, 500, 200, "Ohmrida an COM1"));
    using Point = std::pair<int, int>;   // mV, mA
    const Point polls[] = {{2000, 100}, {2005, 104}, {2010, 100}, {2015, 104},
                           {2015, 105}, {2005, 105}, {2005, 100}, {2000, 96}};
    int time = 0;
    for (const auto &[voltage, current] : polls) {
        time += 60;
        ChannelStatus status = Charging(time, time / 36, voltage);
        status.current = current;
        charger.SetStatus(0, status);
        Tick();
    }
    std::vector<Point> stored;
    for (const Sample &s : SamplesOf(service->ID()))
        stored.emplace_back(s.Voltage, s.Current);
    EXPECT_EQ(stored, std::vector<Point>({{2000, 100}, {2010, 100}, {2015, 105}, {2005, 105}, {2005, 100}}));
}
