#include "simulator/ChargerDevice.h"
#include "simulator/Protocol.h"

#include <algorithm>
#include <cmath>

namespace Sim {

namespace {

constexpr uint8_t AckAccepted = 0;
constexpr uint8_t AckRefused = 1;
constexpr uint8_t AckBadMessage = 2;

uint16_t clamp16(double value)
{
    return static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

void appendTime(Bytes& bytes, double seconds)
{
    const long total = std::max(0L, static_cast<long>(seconds));
    bytes.push_back(static_cast<uint8_t>(std::min(255L, total / 3600)));
    bytes.push_back(static_cast<uint8_t>(total / 60 % 60));
    bytes.push_back(static_cast<uint8_t>(total % 60));
}

std::vector<BatteryModel::Function> programFunctions(int program)
{
    using F = BatteryModel::Function;
    switch (program) {
    case 1: return {F::Charge};
    case 2: return {F::Discharge};
    case 3: return {F::Discharge, F::Charge};
    case 4: return {F::Charge, F::Discharge, F::Charge};
    case 5: return {F::Discharge, F::Charge, F::Discharge, F::Charge};
    default: return {};
    }
}

} // namespace

ChargerChannel::ChargerChannel()
{
    battery_.setStateOfCharge(0.5);
}

void ChargerChannel::configureBattery()
{
    const double capacity = batteryCapacityMah_ > 0 ? batteryCapacityMah_ : running_.capacity;
    battery_.configure(chemistryFromType(running_.batteryType), running_.cells, capacity);
}

void ChargerChannel::setStateOfCharge(double fraction)
{
    battery_.setStateOfCharge(fraction);
}

bool ChargerChannel::start()
{
    const auto phases = programFunctions(loaded_.program);
    if (phases.empty())
        return false;
    running_ = loaded_;
    configureBattery();
    errorCode_ = 0;
    phases_ = phases;
    phase_ = 0;
    beginPhase();
    return true;
}

void ChargerChannel::stop()
{
    phase_ = phases_.size();
    battery_.startFunction(BatteryModel::Function::Rest, 0);
}

void ChargerChannel::raiseError(uint8_t code)
{
    // A charger that detects a fault switches its output off.
    errorCode_ = code;
    stop();
}

void ChargerChannel::beginPhase()
{
    phaseSeconds_ = 0;
    const auto function = phases_[phase_];
    if (function == BatteryModel::Function::Discharge) {
        dischargeMah_ = 0;
        dischargeSeconds_ = 0;
        battery_.startFunction(function, running_.dischargeCurrent);
    } else {
        chargeMah_ = 0;
        chargeSeconds_ = 0;
        battery_.startFunction(function, running_.chargeCurrent);
    }
    checkTriggers();
}

void ChargerChannel::checkTriggers()
{
    if (!running())
        return;
    auto due = [this](const std::optional<StepTrigger>& trigger) {
        return trigger && trigger->step == step() && phaseSeconds_ >= trigger->afterSeconds;
    };
    if (due(faults.errorAt)) {
        faults.errorAt.reset();
        raiseError(faults.errorCode);
    } else if (due(faults.idleAt)) {
        faults.idleAt.reset();
        stop();
    }
}

void ChargerChannel::advance(double seconds)
{
    while (seconds > 0 && running()) {
        double dt = std::min(seconds, 1.0);
        for (const auto* trigger : {&faults.errorAt, &faults.idleAt})
            if (*trigger && (*trigger)->step == step() && (*trigger)->afterSeconds > phaseSeconds_)
                dt = std::min(dt, (*trigger)->afterSeconds - phaseSeconds_);
        seconds -= dt;
        const bool finished = battery_.advance(dt);
        phaseSeconds_ += dt;
        if (phases_[phase_] == BatteryModel::Function::Discharge) {
            dischargeMah_ = battery_.movedMah();
            dischargeSeconds_ = phaseSeconds_;
        } else {
            chargeMah_ = battery_.movedMah();
            chargeSeconds_ = phaseSeconds_;
        }
        checkTriggers();
        if (finished && running()) {
            ++phase_;
            if (running())
                beginPhase();
        }
    }
}

uint8_t ChargerChannel::modeFlags() const
{
    if (!running())
        return 0;
    return phases_[phase_] == BatteryModel::Function::Charge ? 0x01 : 0x02;
}

Bytes ChargerChannel::statusA(uint8_t echo) const
{
    Bytes a{echo, modeFlags(), errorCode_, loaded_.program, static_cast<uint8_t>(loaded_.batteryType),
            loaded_.cells};
    appendWord(a, loaded_.capacity);
    appendWord(a, loaded_.dischargeCurrent);
    appendWord(a, loaded_.chargeCurrent);
    a.push_back(0);
    a.push_back(0);
    return a;
}

Bytes ChargerChannel::statusB(uint8_t echo) const
{
    Bytes b{echo, 0, 0};
    appendWord(b, modeFlags() == 0x01 ? clamp16(battery_.currentMa()) : 0);
    return b;
}

Bytes ChargerChannel::statusC(uint8_t echo) const
{
    Bytes c{echo};
    appendWord(c, clamp16(dischargeMah_));
    appendWord(c, clamp16(chargeMah_));
    appendWord(c, clamp16(battery_.voltageMv() / 5.0));
    appendTime(c, dischargeSeconds_);
    appendTime(c, chargeSeconds_);
    c.insert(c.end(), {0, 0, 0});
    return c;
}

ChargerDevice::ChargerDevice(ChargerType type)
    : type_(type)
{
    const int channels = type == ChargerType::Varn ? 4 : 1;
    for (int i = 0; i < channels; ++i)
        channels_.push_back(std::make_unique<ChargerChannel>());
}

std::string ChargerDevice::typeName() const
{
    switch (type_) {
    case ChargerType::Ohmrida: return "ohmrida";
    case ChargerType::Lumo: return "lumo";
    case ChargerType::Tesk: return "tesk";
    case ChargerType::Varn: return "varn";
    }
    return "?";
}

void ChargerDevice::advance(double modelSeconds)
{
    for (auto& channel : channels_)
        channel->advance(modelSeconds);
}

std::optional<Bytes> ChargerDevice::identification() const
{
    // r[7] and r[9] tell the model apart; r[1] is our model number, r[2..3]
    // a firmware version, r[10] the number of channels.
    uint8_t model = 1, r7 = 2, r9 = 0;
    switch (type_) {
    case ChargerType::Ohmrida: model = 1; r7 = 2; r9 = 0; break;
    case ChargerType::Lumo: model = 2; r7 = 0; r9 = 0; break;
    case ChargerType::Tesk: model = 3; r7 = 1; r9 = 0; break;
    case ChargerType::Varn: model = 4; r7 = 1; r9 = 1; break;
    }
    return Bytes{CmdIdentify, model, 1, 0, 0, 0, 0, r7, 0, r9, static_cast<uint8_t>(channels_.size())};
}

std::optional<Bytes> ChargerDevice::handle(const Bytes& command)
{
    if (command.empty())
        return std::nullopt;
    if (command[0] == CmdIdentify) {
        const Faults& f = channels_.front()->faults;
        return applyAnswerFaults(identification(), f.silent, f.shortBy, f.wrongEcho);
    }
    const size_t index = command[0] >> 6;
    if (index >= channels_.size())
        return std::nullopt;
    ChargerChannel& channel = *channels_[index];
    return applyAnswerFaults(channelCommand(channel, command), channel.faults.silent,
                             channel.faults.shortBy, channel.faults.wrongEcho);
}

std::optional<Bytes> ChargerDevice::channelCommand(ChargerChannel& channel, const Bytes& command)
{
    const uint8_t echo = command[0];
    const uint8_t code = echo & 0x3F;
    const bool refused = channel.faults.refused.count(code) > 0;
    auto ack = [echo](uint8_t result) { return Bytes{echo, result}; };

    switch (code) {
    case CmdProgram: {
        if (refused)
            return ack(AckRefused);
        if (command.size() != 11 || command[2] != 0x01)
            return ack(AckBadMessage);
        ProgramSettings s;
        s.program = command[1];
        s.batteryType = static_cast<int8_t>(command[3]);
        s.cells = command[4];
        s.capacity = static_cast<uint16_t>(command[5] << 8 | command[6]);
        s.dischargeCurrent = static_cast<uint16_t>(command[7] << 8 | command[8]);
        s.chargeCurrent = static_cast<uint16_t>(command[9] << 8 | command[10]);
        channel.load(s);
        return ack(AckAccepted);
    }
    case CmdStart:
        if (refused)
            return ack(AckRefused);
        if (channel.faults.idleStart) {
            channel.stop();
            return ack(AckAccepted);
        }
        return ack(channel.start() ? AckAccepted : AckRefused);
    case CmdStop:
        if (refused)
            return ack(AckRefused);
        channel.stop();
        return ack(AckAccepted);
    case CmdVarnArm:
    case CmdVarnStartA:
    case CmdVarnStartB:
        // The Varn's own start handshake; the program already runs after 0x15.
        if (type_ != ChargerType::Varn)
            return std::nullopt;
        return ack(refused ? AckRefused : AckAccepted);
    case CmdStatusA:
        return channel.statusA(echo);
    case CmdStatusB:
        return channel.statusB(echo);
    case CmdStatusC:
        return channel.statusC(echo);
    default:
        return std::nullopt;
    }
}

} // namespace Sim
