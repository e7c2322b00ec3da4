#include "SimulatorProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace SimTest {

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

SimulatorProcess::~SimulatorProcess()
{
    stop();
    if (!workDir_.empty()) {
        for (const char* name : {"/env", "/trace", "/control", "/log"})
            ::unlink((workDir_ + name).c_str());
        ::rmdir(workDir_.c_str());
    }
}

void SimulatorProcess::start(std::chrono::milliseconds deadline)
{
    if (pid_ > 0)
        throw std::runtime_error("simulator already running");
    if (workDir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/braskon-sim-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary directory: " + std::string(std::strerror(errno)));
        workDir_ = pattern;
    }
    const std::string envFile = workDir_ + "/env", logFile = workDir_ + "/log";
    ::unlink(envFile.c_str());

    std::vector<std::string> argv{simulatorPath()};
    argv.insert(argv.end(), arguments_.begin(), arguments_.end());
    argv.insert(argv.end(), {"--env-file", envFile, "--trace", workDir_ + "/trace", "--control", workDir_ + "/control"});
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int rc = posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + simulatorPath() + ": " + std::strerror((pid_ = -1, rc)));

    // The env file is written atomically, so once it exists it is complete.
    for (const auto until = Clock::now() + deadline; ::access(envFile.c_str(), R_OK) != 0;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("braskon-sim ended before it was ready:\n" + logText());
        }
        if (Clock::now() > until) {
            stop();
            throw std::runtime_error("braskon-sim did not get ready in time:\n" + logText());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
        const std::string name = "BRASKON_COM" + std::to_string(com);
        if (!savedVariables_.count(name)) {
            const char* old = std::getenv(name.c_str());
            savedVariables_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        const std::string path = portPath(com);
        ::setenv(name.c_str(), (path.empty() ? "/nonexistent/com" + std::to_string(com) : path).c_str(), 1);
    }
}

void SimulatorProcess::stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto until = Clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
    }
    for (const auto& [name, value] : savedVariables_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    savedVariables_.clear();
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
    return reply;
}

std::string SimulatorProcess::logText() const { return readFile(workDir_ + "/log"); }

} // namespace SimTest
