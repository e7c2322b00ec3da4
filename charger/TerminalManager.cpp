#include "charger/TerminalManager.h"

#include <stdexcept>

namespace Ohmrida {

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
    for (auto &port : ports_)
        ScanPort(*port);
}

void TerminalManager::ScanPort(AsynchSerialInterface &port)
{
    fileTerminals(port, Identify(port));
}

void TerminalManager::FilePort(int number, uint8_t deviceType)
{
    AsynchSerialInterface &port = Port(number);
    for (auto it = registry_.begin(); it != registry_.end();)
        it = it->second->Port() == &port ? registry_.erase(it) : std::next(it);
    cursor_ = registry_.cend();
    fileTerminals(port, deviceType);
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

std::vector<const Terminal *> TerminalManager::Terminals() const
{
    std::vector<const Terminal *> terminals;
    for (const auto &entry : registry_)
        terminals.push_back(entry.second.get());
    return terminals;
}

Terminal *TerminalManager::Get(const std::string &name) const
{
    const auto found = registry_.find(name);
    return found == registry_.end() ? nullptr : found->second.get();
}

std::unique_ptr<Terminal> TerminalManager::FindLogger()
{
    for (auto &port : ports_) {
        if (ProbeLogger(*port))
            return LoggerOn(port->PortNumber());
    }
    return nullptr;
}

std::unique_ptr<Terminal> TerminalManager::LoggerOn(int number)
{
    return std::make_unique<Terminal>("Kestrix", &Port(number), DeviceKestrix, 0x00);
}

AsynchSerialInterface &TerminalManager::Port(int number)
{
    if (number < 1 || number > PortCount)
        throw std::out_of_range("no serial port COM" + std::to_string(number));
    return *ports_[number - 1];
}

} // namespace Ohmrida
