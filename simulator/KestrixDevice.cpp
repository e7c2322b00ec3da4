#include "simulator/KestrixDevice.h"
#include "simulator/Protocol.h"

namespace Sim {

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

} // namespace

KestrixDevice::KestrixDevice(KestrixRecording recording)
{
    setRecording(std::move(recording));
}

void KestrixDevice::setRecording(KestrixRecording recording)
{
    recording_ = std::move(recording);
    flatValues_.clear();
    for (const auto& phase : recording_.phases)
        flatValues_.insert(flatValues_.end(), phase.begin(), phase.end());
    position_ = 0;
}

std::optional<Bytes> KestrixDevice::handle(const Bytes& command)
{
    return applyAnswerFaults(answer(command), faults.silent, faults.shortBy, faults.wrongEcho);
}

std::optional<Bytes> KestrixDevice::answer(const Bytes& command)
{
    const KestrixRecording& r = recording_;
    switch (command.at(0)) {
    case CmdInfo:
        // A readout always begins with the info and phase table requests:
        // the value pointer goes back to the first stored value.
        position_ = 0;
        return Bytes{CmdInfo, r.chargeInterval, r.dischargeInterval, CR, LF};
    case CmdPhaseTable: {
        position_ = 0;
        Bytes t{CmdPhaseTable};
        for (size_t i = 0; i < 10; ++i)
            appendWord(t, i < r.phases.size() ? static_cast<unsigned>(r.phases[i].size()) : 0u);
        t.push_back(CR);
        t.push_back(LF);
        return t;
    }
    case CmdNextValue: {
        // Past the last stored value the logger answers 0 V.
        const int mv = position_ < flatValues_.size() ? flatValues_[position_++] : 0;
        Bytes v{CmdNextValue, 0};
        appendWord(v, static_cast<unsigned>((mv + 2) / 5));
        v.push_back(CR);
        v.push_back(LF);
        return v;
    }
    case CmdStatusA: {
        Bytes a{CmdStatusA, 0, 0, r.program, static_cast<uint8_t>(r.batteryType), r.cells};
        appendWord(a, r.capacity);
        appendWord(a, r.dischargeCurrent);
        appendWord(a, r.chargeCurrent);
        a.push_back(0);
        a.push_back(0);
        return a;
    }
    case CmdStatusB:
        return Bytes{CmdStatusB, 0, 0, 0, 0};
    case CmdStatusC: {
        Bytes c(16, 0);
        c[0] = CmdStatusC;
        return c;
    }
    default:
        // Not a charger: no answer to the identification or charger commands.
        return std::nullopt;
    }
}

} // namespace Sim
