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

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace TreatmentTest {

// Reads a whole file; "" when missing.
inline std::string FileText(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

inline ChannelStatus Charging(int time, int capacity, int voltage = 1300) { return {0x01, 0, voltage, capacity, time}; }
inline ChannelStatus Discharging(int time, int capacity, int voltage = 1200) { return {0x02, 0, voltage, capacity, time}; }
inline ChannelStatus Idle(int voltage = 1250) { return {0x00, 0, voltage, 0, 0}; }

class TreatmentFixture : public ::testing::Test {
protected:
    static constexpr int BatteryID = 7;

    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ChargerTest::DetachAllPorts();
        char buffer[4096];
        previousDirectory_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
        ASSERT_EQ(0, chdir(dir_.path().toLocal8Bit().constData()));
        database_ = std::make_unique<TBRASKDataModule>(dir_.path());
        AddBattery(BatteryID, 1800, 1, 4);
        terminals_ = std::make_unique<Ohmrida::TerminalManager>();
        manager_ = std::make_unique<TServiceManager>(*database_, *terminals_);
    }

    void TearDown() override
    {
        manager_.reset();
        terminals_.reset();
        chargers_.clear();
        database_.reset();
        ChargerTest::DetachAllPorts();
        if (chdir(previousDirectory_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previousDirectory_;
    }

    // A scripted charger on COM<n>, its terminals filed in the terminal manager.
    ScriptedCharger &AttachCharger(int portNumber, uint8_t deviceType)
    {
        chargers_.push_back(std::make_unique<ScriptedCharger>(portNumber, deviceType));
        terminals_->ScanPort(terminals_->Port(portNumber));
        chargers_.back()->ClearMessages();
        return *chargers_.back();
    }

    void AddBattery(int id, int capacity, int type, int cells)
    {
        TBRASKDataModule::Battery battery;
        battery.ID = id;
        battery.Capacity = capacity;
        battery.Type = type;
        battery.Cells = cells;
        battery.Brand = QStringLiteral("Testakku");
        database_->InsertBattery(battery);
    }

    StepRecord StepRow(int serviceID, int step)
    {
        StepRecord record;
        record.ServiceID = serviceID;
        record.Step = step;
        if (!database_->GetSubService(record))
            ADD_FAILURE() << "no row for step " << step << " of treatment " << serviceID;
        return record;
    }

    std::vector<Sample> SamplesOf(int serviceID)
    {
        std::vector<Sample> samples;
        database_->SelectSamples(serviceID);
        for (bool more = database_->FirstSample(); more; more = database_->NextSample()) {
            samples.emplace_back();
            database_->GetSample(samples.back());
        }
        return samples;
    }

    Service *StartStandard(int program, int charge = 500, int discharge = 200,
                           const std::string &terminal = "Ohmrida an COM1")
    {
        return manager_->StartStandardService(host_, BatteryID, program, charge, discharge, terminal);
    }

    std::string Log()
    {
        manager_->FlushLog();
        return FileText("log.txt");
    }

    QTemporaryDir dir_;
    std::string previousDirectory_;
    std::unique_ptr<TBRASKDataModule> database_;
    std::unique_ptr<Ohmrida::TerminalManager> terminals_;
    std::unique_ptr<TServiceManager> manager_;
    std::vector<std::unique_ptr<ScriptedCharger>> chargers_;
    RecordingHost host_;
};

} // namespace TreatmentTest
