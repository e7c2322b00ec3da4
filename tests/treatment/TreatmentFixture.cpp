#include "TreatmentFixture.h"

#include <fstream>
#include <sstream>

#include <unistd.h>

namespace TreatmentTest {

std::string FileText(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void TreatmentFixture::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    DetachAllPorts();
    char buffer[4096];
    previousDirectory_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
    ASSERT_EQ(0, chdir(dir_.path().toLocal8Bit().constData()));
    database_ = std::make_unique<TBRASKDataModule>(dir_.path());
    AddBattery(BatteryID, 1800, 1, 4);
    terminals_ = std::make_unique<Ohmrida::TerminalManager>();
    manager_ = std::make_unique<TServiceManager>(*database_, *terminals_);
}

void TreatmentFixture::TearDown()
{
    manager_.reset();
    terminals_.reset();
    chargers_.clear();
    database_.reset();
    DetachAllPorts();
    if (chdir(previousDirectory_.c_str()) != 0)
        ADD_FAILURE() << "cannot return to " << previousDirectory_;
}

ScriptedCharger &TreatmentFixture::AttachCharger(int portNumber, uint8_t deviceType)
{
    chargers_.push_back(std::make_unique<ScriptedCharger>(portNumber, deviceType));
    terminals_->ScanPort(terminals_->Port(portNumber));
    chargers_.back()->ClearMessages();
    return *chargers_.back();
}

void TreatmentFixture::AddBattery(int id, int capacity, int type, int cells)
{
    TBRASKDataModule::Battery battery;
    battery.ID = id;
    battery.Capacity = capacity;
    battery.Type = type;
    battery.Cells = cells;
    battery.Brand = QStringLiteral("Testakku");
    database_->InsertBattery(battery);
}

StepRecord TreatmentFixture::StepRow(int serviceID, int step)
{
    StepRecord record;
    record.ServiceID = serviceID;
    record.Step = step;
    if (!database_->GetSubService(record))
        ADD_FAILURE() << "no row for step " << step << " of treatment " << serviceID;
    return record;
}

std::vector<Sample> TreatmentFixture::SamplesOf(int serviceID)
{
    std::vector<Sample> samples;
    database_->SelectSamples(serviceID);
    for (bool more = database_->FirstSample(); more; more = database_->NextSample()) {
        Sample sample;
        database_->GetSample(sample);
        samples.push_back(sample);
    }
    return samples;
}

Service *TreatmentFixture::StartStandard(int program, int charge, int discharge, const std::string &terminal)
{
    return manager_->StartStandardService(host_, BatteryID, program, charge, discharge, terminal);
}

std::string TreatmentFixture::Log()
{
    manager_->FlushLog();
    return FileText("log.txt");
}

} // namespace TreatmentTest
