// Treatments through a line that garbles 15 % of the charger's answers: only
// plausible readings are stored, and no garbled answer ends a step or hits a
// time limit. bench/charger/bench_garble runs the same for thousands of answers.

#include "tests/treatment/TreatmentFixture.h"

#include "tests/support/GarblingPeer.h"
#include "tests/support/LineAnalysis.h"
#include "tests/support/SimulatorProcess.h"

#include "charger/Plausibility.h"

#include <thread>

using namespace TreatmentTest;
using std::make_tuple;

class GarbledLineTest : public TreatmentFixture {
protected:
    bool TickUntilEnded(Service *service)
    {
        const auto until = Clock::now() + std::chrono::seconds(90);
        while (service->ServiceState() != Service::Ended && Clock::now() < until) {
            Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Tick();   // what the end left to write
        return service->ServiceState() == Service::Ended;
    }
    // Every stored sample and step result within what the charger can mean.
    void ExpectPlausibleRecords(const Service &service)
    {
        const int maxVoltage = Ohmrida::Plausible::MaxVoltage(1, 4);
        int previous = 0;
        for (const Sample &s : SamplesOf(service.ID())) {
            EXPECT_TRUE(s.Voltage >= 0 && s.Voltage <= maxVoltage) << s.Voltage << " mV at " << s.Time;
            EXPECT_TRUE(s.Current == 0 || s.Current == 500) << s.Current << " mA at " << s.Time;
            EXPECT_GE(s.Time, previous);
            previous = s.Time;
        }
        for (int step = 1; step <= service.StepCount(); ++step) {
            const StepRecord row = StepRow(service.ID(), step);
            EXPECT_EQ(OK, row.State) << "step " << step << ": "
                                     << FaultText(service.LastFault(), service.Terminal()).toStdString();
            EXPECT_LE(row.Capacity, 500 * (row.Duration + 1) / 3600 * 11 / 10 + 2) << "step " << step;
        }
    }
};

TEST_F(GarbledLineTest, OnlyPlausibleAnswersBecomeRecordsAndNoGarbledAnswerEndsAStep)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "60", "--soc", "60"});
    sim.start();
    sim.control("set-capacity 1 60");   // a small battery: a whole program in seconds
    terminals_->Scan();
    ASSERT_TRUE(terminals_->Get("Lumo an COM1"));
    const unsigned seed = 2203;
    SimTest::GarblingPeer line(1, sim.portPath(1), 0.15, seed);
    database_->SetMinDeltaU(0);   // every reading is stored
    database_->SetMinDeltaI(0);

    // Program 3: the charger ends each step by itself.
    Service *standard = StartStandard(3, 500, 500, "Lumo an COM1");
    ASSERT_TRUE(TickUntilEnded(standard));
    ExpectPlausibleRecords(*standard);
    // No step's time runs past the charger's own by more than a garbled
    // reading within its pace can add (60 device seconds a second, after a
    // read time-out of up to 1.8 s); it may fall short by what the polls
    // missed.
    std::vector<SimTest::TrueStatus> truth = SimTest::TrueStatusReads(line.Log());
    int discharged = 0, charged = 0;
    for (const SimTest::TrueStatus &status : truth) {
        discharged = std::max(discharged, status.ModeFlags == 2 ? status.DischargeTime : 0);
        charged = std::max(charged, status.ModeFlags == 1 ? status.ChargeTime : 0);
    }
    for (const auto &[step, truest] : {std::pair{1, discharged}, std::pair{2, charged}}) {
        const int duration = StepRow(standard->ID(), step).Duration;
        EXPECT_TRUE(duration > 0 && duration <= truest + 180) << duration << " s, charger " << truest << " s";
    }

    // A user program: the charge ends only when a true answer shows its limit.
    sim.control("set-soc 1 10");
    const size_t before = line.Log().size();
    Service *user =
        Started(manager_->StartUserService(BatteryID, {{Laden, 500, 120}, {Entladen, 500, 0}}, "Lumo an COM1"));
    ASSERT_TRUE(TickUntilEnded(user));
    ExpectPlausibleRecords(*user);
    const std::vector<SimTest::GarblingPeer::Exchange> log = line.Log();
    truth = SimTest::TrueStatusReads(log);
    size_t limitStop = 0;   // the stop that ended the charge: the first one after a status read
    bool read = false;
    for (size_t i = before; i < log.size() && !limitStop; ++i) {
        read = read || log[i].command[0] == 0x11;
        if (read && log[i].command[0] == 0x13)
            limitStop = i;
    }
    ASSERT_NE(0u, limitStop);
    const auto lastRead = std::find_if(truth.rbegin(), truth.rend(), [&](const SimTest::TrueStatus &s) {
        return s.At < limitStop;
    });
    ASSERT_NE(truth.rend(), lastRead);
    EXPECT_EQ(1, lastRead->ModeFlags);
    EXPECT_GE(lastRead->ChargeTime, 120) << "the limit was reached on the charger";

    // The line did garble, the program did turn answers down, and said why.
    const SimTest::LineCounts counts = SimTest::CountLine(log);
    EXPECT_GT(counts.Garbled, counts.Answers / 10) << "seed " << seed;
    EXPECT_GT(standard->RejectedAnswers() + user->RejectedAnswers(), counts.GarbledReads / 2);
    EXPECT_NE(std::string::npos, Log().find("\t?\t")) << "rejected answers are logged with their bytes";
}
