// braskon-sim: charger and logger simulator on pseudo-terminals.
#include "BraskonVersion.h"
#include "simulator/Options.h"
#include "simulator/Simulator.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Client mode: one command to a running simulator, its reply on stdout.
int sendControlCommand(const std::string& path, const std::string& command)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        std::fprintf(stderr, "braskon-sim: %s nicht erreichbar: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    const std::string line = command + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "braskon-sim: Befehl kann nicht gesendet werden\n");
        ::close(fd);
        return 2;
    }
    std::string reply;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        reply += c;
    ::close(fd);
    std::printf("%s\n", reply.c_str());
    return reply.compare(0, 2, "ok") == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    Sim::Options options;
    const std::string error = Sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!error.empty()) {
        std::fprintf(stderr, "braskon-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(Sim::helpText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("braskon-sim %s\n", BRASKON_VERSION);
        return 0;
    }
    if (!options.sendPath.empty())
        return sendControlCommand(options.sendPath, options.sendCommand);

    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        Sim::Simulator simulator(options);
        simulator.setUp();
        simulator.run(stopRequested);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "braskon-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
