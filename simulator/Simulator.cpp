#include "simulator/Simulator.h"

#include "simulator/ChargerDevice.h"
#include "simulator/KestrixDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Sim {

namespace {

constexpr int PollIntervalMs = 20;

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> result;
    std::string word;
    while (in >> word)
        result.push_back(word);
    return result;
}

bool parseDouble(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

} // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options))
{
}

Simulator::~Simulator()
{
    for (auto& client : controlClients_)
        ::close(client.fd);
    if (controlFd_ >= 0) {
        ::close(controlFd_);
        ::unlink(options_.controlPath.c_str());
    }
    if (!options_.envFile.empty())
        ::unlink(options_.envFile.c_str());
    if (trace_)
        std::fclose(trace_);
}

void Simulator::setUp()
{
    KestrixRecording recording;
    if (!options_.kestrixFile.empty()) {
        const std::string error = recording.load(options_.kestrixFile);
        if (!error.empty())
            throw std::runtime_error(error);
    } else {
        const std::string error = recording.applySettings(options_.kestrixSpec.empty() ? "counts=121/61"
                                                                                    : options_.kestrixSpec);
        if (!error.empty())
            throw std::runtime_error("--kestrix: " + error);
    }

    auto sorted = options_.ports;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.com < b.com; });
    for (const auto& config : sorted) {
        auto port = std::make_unique<Port>();
        port->com = config.com;
        if (config.type == "kestrix") {
            auto logger = std::make_unique<KestrixDevice>(recording);
            port->kestrix = logger.get();
            port->device = std::move(logger);
        } else {
            const ChargerType type = config.type == "ohmrida" ? ChargerType::Ohmrida
                                   : config.type == "lumo"    ? ChargerType::Lumo
                                   : config.type == "tesk"    ? ChargerType::Tesk
                                                              : ChargerType::Varn;
            auto charger = std::make_unique<ChargerDevice>(type);
            port->charger = charger.get();
            port->device = std::move(charger);
        }
        port->pty.open();
        ports_.push_back(std::move(port));
    }

    for (const std::string& command : options_.startCommands) {
        const std::string reply = execute(command);
        if (reply.compare(0, 2, "ok") != 0)
            throw std::runtime_error(command + ": " + reply);
    }

    if (!options_.traceFile.empty()) {
        trace_ = std::fopen(options_.traceFile.c_str(), "w");
        if (!trace_)
            throw std::runtime_error("cannot write trace file " + options_.traceFile + ": " +
                                     std::strerror(errno));
    }
    if (!options_.controlPath.empty())
        openControlSocket();

    std::fputs(portLines("").c_str(), stdout);
    std::fflush(stdout);
    if (!options_.envFile.empty())
        writeEnvFile();
    lastAdvance_ = Clock::now();
}

std::string Simulator::portLines(const char* prefix) const
{
    std::string text;
    for (const auto& port : ports_)
        text += std::string(prefix) + "BRASKON_COM" + std::to_string(port->com) + "=" + port->pty.path() + "\n";
    return text;
}

void Simulator::writeEnvFile() const
{
    // Written beside the target and renamed, so a reader sees all or nothing.
    const std::string temporary = options_.envFile + ".tmp." + std::to_string(::getpid());
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file)
        throw std::runtime_error("cannot write " + temporary + ": " + std::strerror(errno));
    // The devices count their time at the simulator's speed; Braskon holds
    // their counters to it.
    std::ostringstream speed;
    speed << options_.speed;
    const std::string text = portLines("export ") + "export BRASKON_DEVICE_SPEED=" + speed.str() + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), options_.envFile.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot write env file " + options_.envFile);
    }
}

void Simulator::openControlSocket()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options_.controlPath.size() >= sizeof(address.sun_path))
        throw std::runtime_error("control socket path too long: " + options_.controlPath);
    std::strncpy(address.sun_path, options_.controlPath.c_str(), sizeof(address.sun_path) - 1);
    ::unlink(options_.controlPath.c_str());
    controlFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (controlFd_ < 0 || ::bind(controlFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
        || ::listen(controlFd_, 8) != 0)
        throw std::runtime_error("cannot create control socket " + options_.controlPath + ": " +
                                 std::strerror(errno));
}

void Simulator::run(const volatile std::sig_atomic_t& stopRequested)
{
    while (!stopRequested) {
        std::vector<pollfd> fds;
        for (const auto& port : ports_)
            fds.push_back({port->pty.isOpen() ? port->pty.masterFd() : -1, POLLIN, 0});
        fds.push_back({controlFd_, POLLIN, 0});
        for (const auto& client : controlClients_)
            fds.push_back({client.fd, POLLIN, 0});

        const int ready = ::poll(fds.data(), fds.size(), PollIntervalMs);
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        advanceModel();

        for (size_t i = 0; i < ports_.size(); ++i) {
            Port& port = *ports_[i];
            if (!port.pty.isOpen())
                continue;
            if (ready > 0 && (fds[i].revents & POLLIN))
                serviceInput(port);
            dropStalledInput(port);
            port.pty.releaseExclusive();
        }
        const size_t controlIndex = ports_.size();
        std::vector<ControlClient> kept;
        for (size_t i = 0; i < controlClients_.size(); ++i) {
            const short events = ready > 0 ? fds[controlIndex + 1 + i].revents : 0;
            if (events == 0 || serviceControlClient(controlClients_[i]))
                kept.push_back(controlClients_[i]);
            else
                ::close(controlClients_[i].fd);
        }
        controlClients_ = std::move(kept);
        if (ready > 0 && controlFd_ >= 0 && (fds[controlIndex].revents & POLLIN))
            acceptControlClient();
    }
}

void Simulator::advanceModel()
{
    const auto now = Clock::now();
    const double realSeconds = std::chrono::duration<double>(now - lastAdvance_).count();
    lastAdvance_ = now;
    for (auto& port : ports_)
        port->device->advance(realSeconds * options_.speed);
}

void Simulator::serviceInput(Port& port)
{
    uint8_t buffer[512];
    const ssize_t n = ::read(port.pty.masterFd(), buffer, sizeof(buffer));
    if (n <= 0)
        return;
    port.pty.releaseExclusive();
    port.pending.insert(port.pending.end(), buffer, buffer + n);
    port.lastByte = Clock::now();

    while (!port.pending.empty()) {
        const size_t length = Device::commandLength(port.pending.front());
        if (port.pending.size() < length)
            break;
        const Bytes command(port.pending.begin(), port.pending.begin() + static_cast<long>(length));
        port.pending.erase(port.pending.begin(), port.pending.begin() + static_cast<long>(length));
        if (port.unplugged) {
            traceExchange(port, command, std::nullopt);
            continue;
        }
        const auto answer = port.device->handle(command);
        traceExchange(port, command, answer);
        if (answer && !answer->empty()) {
            // The answer is small; the slave's input queue has room for it.
            // A full queue (a client that never reads) loses the answer.
            const ssize_t written = ::write(port.pty.masterFd(), answer->data(), answer->size());
            (void)written;
        }
    }
}

void Simulator::dropStalledInput(Port& port)
{
    if (port.pending.empty())
        return;
    if (Clock::now() - port.lastByte < std::chrono::milliseconds(options_.gapMs))
        return;
    traceExchange(port, port.pending, std::nullopt, "discarded");
    port.pending.clear();
}

void Simulator::traceExchange(const Port& port, const Bytes& received, const std::optional<Bytes>& answer,
                              const char* note)
{
    if (!trace_)
        return;
    std::string line = "COM" + std::to_string(port.com) + " rx " + hex(received) + " tx ";
    line += answer && !answer->empty() ? hex(*answer) : "-";
    if (note)
        line += std::string(" ") + note;
    line += '\n';
    std::fputs(line.c_str(), trace_);
    std::fflush(trace_);
}

void Simulator::acceptControlClient()
{
    const int fd = ::accept4(controlFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0)
        controlClients_.push_back({fd, {}});
}

bool Simulator::serviceControlClient(ControlClient& client)
{
    char buffer[1024];
    const ssize_t n = ::read(client.fd, buffer, sizeof(buffer));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    if (n < 0)
        return true;
    client.buffer.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = client.buffer.find('\n')) != std::string::npos) {
        const std::string line = client.buffer.substr(0, newline);
        client.buffer.erase(0, newline + 1);
        const std::string reply = execute(line) + "\n";
        // Replies are short; a client that does not read them loses them.
        const ssize_t written = ::send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        (void)written;
    }
    return client.buffer.size() < 65536;
}

Simulator::Port* Simulator::findPort(int com)
{
    for (auto& port : ports_)
        if (port->com == com)
            return port.get();
    return nullptr;
}

std::string Simulator::resolve(const std::string& target, std::vector<Port*>& ports,
                               std::vector<ChargerChannel*>& channels, std::vector<Faults*>& faults)
{
    std::vector<Port*> selected;
    int channel = 0;
    if (target == "all") {
        for (auto& port : ports_)
            selected.push_back(port.get());
    } else {
        const auto dot = target.find('.');
        const std::string comText = target.substr(0, dot);
        Port* port = comText.size() == 1 ? findPort(comText[0] - '0') : nullptr;
        if (!port)
            return "no such port: " + target;
        if (dot != std::string::npos) {
            const std::string channelText = target.substr(dot + 1);
            channel = channelText.size() == 1 ? channelText[0] - '0' : 0;
            if (channel < 1 || channel > port->device->channelCount())
                return "no such channel: " + target;
        }
        selected.push_back(port);
    }
    for (Port* port : selected) {
        ports.push_back(port);
        if (port->kestrix) {
            faults.push_back(&port->kestrix->faults);
            continue;
        }
        for (int c = 0; c < port->charger->channelCount(); ++c) {
            if (channel != 0 && c + 1 != channel)
                continue;
            channels.push_back(&port->charger->channel(c));
            faults.push_back(&port->charger->channel(c).faults);
        }
    }
    return {};
}

std::string Simulator::execute(const std::string& line)
{
    const auto w = words(line);
    if (w.empty())
        return "error: empty command";
    const std::string& command = w[0];
    if (command == "ping")
        return "ok";
    if (command == "set-speed") {
        double speed = 0;
        if (w.size() != 2 || !parseDouble(w[1], speed) || speed <= 0)
            return "error: set-speed expects a positive number";
        advanceModel();
        options_.speed = speed;
        return "ok";
    }
    if (command == "unplug" || command == "plug") {
        Port* port = w.size() >= 2 && w[1].size() == 1 ? findPort(w[1][0] - '0') : nullptr;
        if (!port)
            return "error: no such port";
        if (command == "plug") {
            if (!port->pty.isOpen())
                return "error: COM" + std::to_string(port->com) + " was closed and cannot be plugged again";
            port->unplugged = false;
            return "ok";
        }
        if (w.size() == 3 && w[2] == "close") {
            port->pty.close();
            port->pending.clear();
        } else if (w.size() != 2) {
            return "error: unplug N [close]";
        }
        port->unplugged = true;
        return "ok";
    }
    if (command == "set-kestrix" || command == "load-kestrix") {
        Port* port = w.size() >= 3 && w[1].size() == 1 ? findPort(w[1][0] - '0') : nullptr;
        if (!port || !port->kestrix)
            return "error: " + command + " expects the COM number of a kestrix port";
        KestrixRecording recording;
        std::string error;
        if (command == "load-kestrix") {
            error = w.size() == 3 ? recording.load(w[2]) : "load-kestrix N FILE";
        } else {
            std::string text;
            for (size_t i = 2; i < w.size(); ++i)
                text += w[i] + " ";
            error = recording.applySettings(text);
        }
        if (!error.empty())
            return "error: " + error;
        port->kestrix->setRecording(recording);
        std::string counts;
        for (const auto& phase : recording.phases)
            counts += (counts.empty() ? "" : "/") + std::to_string(phase.size());
        return "ok counts=" + counts;
    }

    if (w.size() < 2)
        return "error: " + command + " needs a target (N, N.C or all)";
    std::vector<Port*> ports;
    std::vector<ChargerChannel*> channels;
    std::vector<Faults*> faults;
    const std::string error = resolve(w[1], ports, channels, faults);
    if (!error.empty())
        return "error: " + error;
    advanceModel();

    if (command == "fault" || command == "error") {
        if (w.size() != 3)
            return "error: " + command + (command == "fault" ? " T FAULT" : " T CODE");
        const std::string text = command == "error" ? "error=" + w[2] : w[2];
        // Validate the fault once before touching any channel.
        Faults probe;
        std::optional<uint8_t> immediate;
        const std::string problem = probe.apply(text, immediate);
        if (!problem.empty())
            return "error: " + problem;
        if (immediate && channels.empty())
            return "error: the logger has no error code";
        for (Faults* f : faults)
            f->apply(text, immediate);
        if (immediate)
            for (ChargerChannel* c : channels)
                c->raiseError(*immediate);
        return "ok";
    }
    if (command == "clear") {
        for (Faults* f : faults)
            *f = Faults{};
        for (ChargerChannel* c : channels)
            if (c->errorCode() != 0)
                c->raiseError(0);
        for (Port* p : ports)
            p->unplugged = !p->pty.isOpen();
        return "ok";
    }
    if (command == "stop-by-hand") {
        if (channels.empty())
            return "error: not a charger";
        for (ChargerChannel* c : channels)
            c->stop();
        return "ok";
    }
    if (command == "set-soc" || command == "set-capacity") {
        double value = 0;
        if (w.size() != 3 || !parseDouble(w[2], value) || value < 0
            || (command == "set-soc" && value > 100))
            return "error: " + command + (command == "set-soc" ? " T PERCENT (0..100)" : " T MAH");
        for (ChargerChannel* c : channels) {
            if (command == "set-soc")
                c->setStateOfCharge(value / 100.0);
            else
                c->setBatteryCapacity(value);
        }
        return "ok";
    }
    if (command == "status") {
        if (channels.size() != 1)
            return "error: status needs one channel (N or N.C)";
        const ChargerChannel& c = *channels.front();
        std::ostringstream out;
        out << "ok mode=" << int(c.modeFlags()) << " error=" << int(c.errorCode())
            << " program=" << int(c.loaded().program) << " step=" << c.step() << "/" << c.stepCount()
            << " soc=" << static_cast<int>(c.battery().stateOfCharge() * 1000) / 10.0
            << " voltage=" << c.battery().voltageMv() << " current=" << c.battery().currentMa();
        return out.str();
    }
    return "error: unknown command: " + command;
}

} // namespace Sim
