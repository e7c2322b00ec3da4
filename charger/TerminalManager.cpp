#include "TerminalManager.h"

#include <array>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace Ohmrida {

namespace {

using PortArray = std::unique_ptr<AsynchSerialInterface>[TerminalManager::PortCount];

// What one port's probe gave: its value, or the exception it threw.
template <typename Value>
struct PortOutcome {
    Value value;
    std::exception_ptr failure;
};

template <typename Value>
using PortOutcomes = std::array<PortOutcome<Value>, TerminalManager::PortCount>;

bool deviceExists(const AsynchSerialInterface &port)
{
    struct stat info {};
    return ::stat(port.DevicePath().c_str(), &info) == 0;
}

// Runs probe on every port at once, one thread per port, and returns the
// outcomes in port order; each port object is touched by one thread only, so
// its wire sees exactly the exchange of the one-by-one walk.
// Left out (outcome `absent`): a port whose device does not exist, whose open
// could only fail, and a port the calling thread holds open itself, which the
// walk finds busy (ExCantOpen) but a helper thread would wait for forever.
// The calling thread probes the last port itself, and any port whose thread
// cannot be started.
template <typename Value, typename Probe>
PortOutcomes<Value> probeAtOnce(PortArray &ports, Value absent, Probe probe)
{
    PortOutcomes<Value> outcomes;
    outcomes.fill({absent, nullptr});
    std::vector<int> wanted;
    for (int i = 0; i < TerminalManager::PortCount; ++i) {
        if (deviceExists(*ports[i]) && !ports[i]->HeldByCurrentThread())
            wanted.push_back(i);
    }
    if (wanted.empty())
        return outcomes;

    // An exception must not leave its thread (that would end the program); it
    // is handed to the caller, who decides in port order.
    auto run = [&](int i) {
        try {
            outcomes[i].value = probe(*ports[i]);
        } catch (...) {
            outcomes[i].failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(wanted.size());
    std::vector<int> here;
    for (size_t k = 0; k + 1 < wanted.size(); ++k) {
        try {
            helpers.emplace_back(run, wanted[k]);
        } catch (const std::system_error &) {
            here.push_back(wanted[k]);
        }
    }
    here.push_back(wanted.back());
    for (int i : here)
        run(i);
    for (std::thread &helper : helpers)
        helper.join();
    return outcomes;
}

} // namespace

TerminalManager::TerminalManager()
{
    for (int i = 0; i < PortCount; ++i)
        ports_[i] = std::make_unique<AsynchSerialInterface>(i + 1);
    cursor_ = registry_.cend();
}

// Terminals go before the ports they point to; the array then destroys the
// ports from COM9 down to COM1.
TerminalManager::~TerminalManager()
{
    Clear();
}

void TerminalManager::Scan()
{
    Clear();
    const PortOutcomes<uint8_t> found =
        probeAtOnce(ports_, static_cast<uint8_t>(NoDevice), [](AsynchSerialInterface &port) { return Identify(port); });
    for (int i = 0; i < PortCount; ++i) {
        if (found[i].failure)
            std::rethrow_exception(found[i].failure);
        fileTerminals(*ports_[i], found[i].value);
    }
}

void TerminalManager::ScanSequential()
{
    Clear();
    for (auto &port : ports_)
        ScanPort(*port);
}

void TerminalManager::ScanPort(AsynchSerialInterface &port)
{
    fileTerminals(port, Identify(port));
}

void TerminalManager::fileTerminals(AsynchSerialInterface &port, uint8_t deviceType)
{
    switch (deviceType) {
    case DeviceOhmrida:
        RegisterTerminal("Ohmrida an ", port, DeviceOhmrida, 0x00);
        break;
    case DeviceLumo:
        RegisterTerminal("Lumo an ", port, DeviceLumo, 0x00);
        break;
    case DeviceTesk:
        RegisterTerminal("Tesk an ", port, DeviceTesk, 0x00);
        break;
    case DeviceVarn:
        for (int channel = 1; channel <= 4; ++channel)
            RegisterTerminal("Varn/Akku" + std::to_string(channel) + " an ", port, DeviceVarn,
                             static_cast<uint8_t>((channel - 1) << 6));
        break;
    default:
        break;
    }
}

void TerminalManager::RegisterTerminal(const std::string &label, AsynchSerialInterface &port, uint8_t deviceType,
                                       uint8_t address)
{
    const std::string name = label + port.PortName();
    registry_[name] = std::make_unique<Terminal>(name, &port, deviceType, address);
    cursor_ = registry_.cend();
}

void TerminalManager::Clear()
{
    registry_.clear();
    cursor_ = registry_.cend();
}

uint32_t TerminalManager::Count() const
{
    return static_cast<uint32_t>(registry_.size());
}

void TerminalManager::First()
{
    cursor_ = registry_.cbegin();
}

std::pair<std::string, Terminal *> TerminalManager::Next()
{
    if (cursor_ == registry_.cend())
        return {std::string(), nullptr};
    const auto entry = cursor_++;
    return {entry->first, entry->second.get()};
}

Terminal *TerminalManager::Get(const std::string &name) const
{
    const auto found = registry_.find(name);
    return found == registry_.end() ? nullptr : found->second.get();
}

std::unique_ptr<Terminal> TerminalManager::FindLogger()
{
    const PortOutcomes<bool> answered =
        probeAtOnce(ports_, false, [](AsynchSerialInterface &port) { return ProbeLogger(port); });
    for (int i = 0; i < PortCount; ++i) {
        if (answered[i].failure)
            std::rethrow_exception(answered[i].failure);
        if (answered[i].value)
            return std::make_unique<Terminal>("Kestrix", ports_[i].get(), DeviceKestrix, 0x00);
    }
    return nullptr;
}

std::unique_ptr<Terminal> TerminalManager::FindLoggerSequential()
{
    for (auto &port : ports_) {
        if (ProbeLogger(*port))
            return std::make_unique<Terminal>("Kestrix", port.get(), DeviceKestrix, 0x00);
    }
    return nullptr;
}

AsynchSerialInterface &TerminalManager::Port(int number)
{
    if (number < 1 || number > PortCount)
        throw std::out_of_range("no serial port COM" + std::to_string(number));
    return *ports_[number - 1];
}

} // namespace Ohmrida
