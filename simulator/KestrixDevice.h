#pragma once

#include "simulator/Device.h"
#include "simulator/Faults.h"
#include "simulator/KestrixRecording.h"

namespace Sim {

// The charge data logger: answers its readout commands from a recording and
// the three status commands (address 0) with the recorded program settings.
class KestrixDevice : public Device {
public:
    explicit KestrixDevice(KestrixRecording recording);

    std::optional<Bytes> handle(const Bytes& command) override;
    void advance(double) override {}
    int channelCount() const override { return 1; }
    std::string typeName() const override { return "kestrix"; }

    void setRecording(KestrixRecording recording);
    const KestrixRecording& recording() const { return recording_; }
    size_t position() const { return position_; }

    Faults faults;

private:
    std::optional<Bytes> answer(const Bytes& command);
    std::vector<int> flatValues_;

    KestrixRecording recording_;
    size_t position_ = 0;
};

} // namespace Sim
