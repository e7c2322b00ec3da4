#pragma once

#include "simulator/BatteryModel.h"
#include "simulator/Device.h"
#include "simulator/Faults.h"

#include <array>
#include <memory>

namespace Sim {

enum class ChargerType { Ohmrida, Lumo, Tesk, Varn };

struct ProgramSettings {
    uint8_t program = 0;
    int8_t batteryType = 1;
    uint8_t cells = 0;
    uint16_t capacity = 0;
    uint16_t dischargeCurrent = 0;
    uint16_t chargeCurrent = 0;
};

// One charging channel: the loaded program, the program run and its battery.
class ChargerChannel {
public:
    ChargerChannel();

    void load(const ProgramSettings& settings) { loaded_ = settings; }
    const ProgramSettings& loaded() const { return loaded_; }
    bool start();                 // false: the loaded program cannot run
    void stop();                  // goes idle at once
    void raiseError(uint8_t code);
    void advance(double seconds);

    uint8_t modeFlags() const;
    uint8_t errorCode() const { return errorCode_; }
    bool running() const { return phase_ < phases_.size(); }
    int step() const { return running() ? static_cast<int>(phase_) + 1 : 0; }
    int stepCount() const { return static_cast<int>(phases_.size()); }

    Bytes statusA(uint8_t echo) const;
    Bytes statusB(uint8_t echo) const;
    Bytes statusC(uint8_t echo) const;

    void setStateOfCharge(double fraction);
    void setBatteryCapacity(double mah) { batteryCapacityMah_ = mah; }   // 0: the program's
    const BatteryModel& battery() const { return battery_; }

    Faults faults;

private:
    void beginPhase();
    void configureBattery();
    void checkTriggers();

    ProgramSettings loaded_;
    ProgramSettings running_;
    BatteryModel battery_;
    double batteryCapacityMah_ = 0;
    std::vector<BatteryModel::Function> phases_;
    size_t phase_ = 0;
    double phaseSeconds_ = 0;
    uint8_t errorCode_ = 0;
    // Counters of the last discharge and charge, kept after the function ended.
    double dischargeMah_ = 0, chargeMah_ = 0;
    double dischargeSeconds_ = 0, chargeSeconds_ = 0;
};

class ChargerDevice : public Device {
public:
    explicit ChargerDevice(ChargerType type);

    std::optional<Bytes> handle(const Bytes& command) override;
    void advance(double modelSeconds) override;
    int channelCount() const override { return static_cast<int>(channels_.size()); }
    std::string typeName() const override;

    ChargerChannel& channel(int index) { return *channels_.at(static_cast<size_t>(index)); }

private:
    std::optional<Bytes> identification() const;
    std::optional<Bytes> channelCommand(ChargerChannel& channel, const Bytes& command);

    ChargerType type_;
    std::vector<std::unique_ptr<ChargerChannel>> channels_;
};

} // namespace Sim
