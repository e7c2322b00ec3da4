#include "tests/support/SimulatorProcess.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace SimTest {

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

} // namespace

SimulatorProcess::SimulatorProcess(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)), directory_(std::make_unique<QTemporaryDir>()),
      workDir_(directory_->path().toStdString())
{
}

SimulatorProcess::~SimulatorProcess() { stop(); }

void SimulatorProcess::start(std::chrono::milliseconds deadline)
{
    if (process_)
        throw std::runtime_error("simulator already running");
    const std::string envFile = workDir_ + "/env";
    ::unlink(envFile.c_str());
    QStringList args;
    for (const std::string& argument : arguments_)
        args << QString::fromStdString(argument);
    const QString work = QString::fromStdString(workDir_);
    args << "--env-file" << work + "/env" << "--trace" << work + "/trace" << "--control" << work + "/control";
    process_ = std::make_unique<QProcess>();
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(QString::fromStdString(workDir_ + "/log"));
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start(QString::fromStdString(simulatorPath()), args);
    if (!process_->waitForStarted(5000)) {
        const std::string reason = process_->errorString().toStdString();
        process_.reset();
        throw std::runtime_error("cannot start " + simulatorPath() + ": " + reason);
    }

    // The env file is written atomically, so once it exists it is complete.
    for (const auto until = Clock::now() + deadline; ::access(envFile.c_str(), R_OK) != 0;) {
        if (process_->waitForFinished(5) || Clock::now() > until) {
            const bool ended = process_->state() == QProcess::NotRunning;
            stop();
            throw std::runtime_error(std::string(ended ? "braskon-sim ended before it was ready:\n"
                                                       : "braskon-sim did not get ready in time:\n") + logText());
        }
    }
    ports_.clear();
    std::istringstream env(readFile(envFile));
    const std::string prefix = "export BRASKON_COM";
    for (std::string line; std::getline(env, line);) {
        const auto eq = line.find('=');
        if (line.compare(0, prefix.size(), prefix) == 0 && eq != std::string::npos)
            ports_[std::atoi(line.substr(prefix.size(), eq - prefix.size()).c_str())] = line.substr(eq + 1);
    }
    for (int com = 1; com <= 9; ++com) {
        const std::string path = portPath(com);
        setVariable("BRASKON_COM" + std::to_string(com), path.empty() ? "/nonexistent/com" + std::to_string(com) : path);
    }
    // The devices' clocks run at the simulator's speed; the program holds
    // their counters to it.
    double speed = 1;
    for (size_t i = 0; i + 1 < arguments_.size(); ++i)
        if (arguments_[i] == "--speed")
            speed = std::atof(arguments_[i + 1].c_str());
    setDeviceSpeed(speed);
}

void SimulatorProcess::setVariable(const std::string& name, const std::string& value)
{
    if (!savedVariables_.count(name)) {
        const char* old = std::getenv(name.c_str());
        savedVariables_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
}

void SimulatorProcess::setDeviceSpeed(double speed)
{
    // Only raised: a program still polling at the higher speed must not
    // take the counters of that time for implausible. The variable exists
    // from start() on, so raising it replaces its text only, which a thread
    // reading it meanwhile survives.
    if (speed <= deviceSpeed_)
        return;
    deviceSpeed_ = speed;
    setVariable("BRASKON_DEVICE_SPEED", std::to_string(speed));
}

void SimulatorProcess::stop()
{
    if (process_) {
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished();
        }
        process_.reset();
    }
    for (const auto& [name, value] : savedVariables_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    savedVariables_.clear();
    deviceSpeed_ = 0;
}

std::string SimulatorProcess::portPath(int comNumber) const
{
    return ports_.count(comNumber) ? ports_.at(comNumber) : std::string();
}

std::vector<std::string> SimulatorProcess::trace() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(workDir_ + "/trace"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int SimulatorProcess::waitForTrace(const std::string& text, std::chrono::milliseconds deadline, size_t fromLine) const
{
    for (const auto until = Clock::now() + deadline;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        const auto lines = trace();
        for (size_t i = fromLine; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos)
                return static_cast<int>(i);
        if (Clock::now() > until)
            return -1;
    }
}

std::string SimulatorProcess::control(const std::string& line)
{
    const std::string path = workDir_ + "/control";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::string request = line + "\n";
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot reach the simulator's control socket " + path);
    }
    std::string reply;
    for (char c = 0; ::read(fd, &c, 1) == 1 && c != '\n';)
        reply += c;
    ::close(fd);
    if (reply.compare(0, 2, "ok") != 0)
        throw std::runtime_error("control command \"" + line + "\" failed: " + reply);
    if (line.compare(0, 10, "set-speed ") == 0)
        setDeviceSpeed(std::atof(line.c_str() + 10));
    return reply;
}

std::string SimulatorProcess::logText() const { return readFile(workDir_ + "/log"); }

} // namespace SimTest
