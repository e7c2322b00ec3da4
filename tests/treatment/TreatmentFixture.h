#pragma once
// A temporary database with one battery, a temporary working directory for
// log.txt, a terminal manager and a service manager; scripted chargers are
// attached per test.

#include "Fakes.h"
#include "ScriptedCharger.h"
#include "Serviceman.h"
#include "charger/TerminalManager.h"
#include "database/Datamodule.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace TreatmentTest {

using ChargerTest::DetachAllPorts;
// Reads a whole file; "" when missing.
std::string FileText(const std::string &path);

inline ChannelStatus Charging(int time, int capacity, int voltage = 1300) { return {0x01, 0, voltage, capacity, time}; }
inline ChannelStatus Discharging(int time, int capacity, int voltage = 1200) { return {0x02, 0, voltage, capacity, time}; }
inline ChannelStatus Idle(int voltage = 1250) { return {0x00, 0, voltage, 0, 0}; }

class TreatmentFixture : public ::testing::Test {
protected:
    static constexpr int BatteryID = 7;

    void SetUp() override;
    void TearDown() override;

    // A scripted charger on COM<n>, its terminals filed in the terminal manager.
    ScriptedCharger &AttachCharger(int portNumber, uint8_t deviceType);
    void AddBattery(int id, int capacity, int type, int cells);

    StepRecord StepRow(int serviceID, int step);
    std::vector<Sample> SamplesOf(int serviceID);
    Service *StartStandard(int program, int charge = 500, int discharge = 200,
                           const std::string &terminal = "Ohmrida an COM1");
    std::string Log();

    QTemporaryDir dir_;
    std::string previousDirectory_;
    std::unique_ptr<TBRASKDataModule> database_;
    std::unique_ptr<Ohmrida::TerminalManager> terminals_;
    std::unique_ptr<TServiceManager> manager_;
    std::vector<std::unique_ptr<ScriptedCharger>> chargers_;
    RecordingHost host_;
};

} // namespace TreatmentTest
