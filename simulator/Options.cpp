#include "Options.h"

#include <cstdlib>

namespace Sim {

namespace {

bool parseDouble(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

// "TARGET=VALUE" or a bare VALUE meaning every port.
std::string targetAndValue(const std::string& text)
{
    const auto eq = text.find('=');
    return eq == std::string::npos ? "all " + text : text.substr(0, eq) + " " + text.substr(eq + 1);
}

} // namespace

std::string parseOptions(const std::vector<std::string>& args, Options& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--send") {
            if (!value(options.sendPath))
                return "--send needs the control socket path and a command";
            for (++i; i < args.size(); ++i)
                options.sendCommand += (options.sendCommand.empty() ? "" : " ") + args[i];
            if (options.sendCommand.empty())
                return "--send needs a command";
        } else if (!value(v)) {
            return option.compare(0, 2, "--") == 0 ? option + " needs a value (see --help)"
                                                   : "unexpected argument: " + option;
        } else if (option == "--port") {
            const auto eq = v.find('=');
            Options::Port port;
            port.com = eq == 1 ? v[0] - '0' : 0;
            port.type = eq == std::string::npos ? "" : v.substr(eq + 1);
            if (port.com < 1 || port.com > 9)
                return "--port expects N=TYPE with N from 1 to 9: " + v;
            if (port.type != "ohmrida" && port.type != "lumo" && port.type != "tesk"
                && port.type != "varn" && port.type != "kestrix")
                return "unknown device type (ohmrida, lumo, tesk, varn, kestrix): " + port.type;
            for (const auto& other : options.ports)
                if (other.com == port.com)
                    return "COM" + std::to_string(port.com) + " given twice";
            options.ports.push_back(port);
        } else if (option == "--speed") {
            if (!parseDouble(v, options.speed) || options.speed <= 0)
                return "--speed expects a positive number: " + v;
        } else if (option == "--env-file") {
            options.envFile = v;
        } else if (option == "--trace") {
            options.traceFile = v;
        } else if (option == "--control") {
            options.controlPath = v;
        } else if (option == "--kestrix-file") {
            options.kestrixFile = v;
        } else if (option == "--kestrix") {
            options.kestrixSpec = v;
        } else if (option == "--fault") {
            const auto colon = v.find(':');
            if (colon == std::string::npos)
                return "--fault expects TARGET:FAULT, e.g. 3.2:silent or 1:error=5@2+60";
            options.startCommands.push_back("fault " + v.substr(0, colon) + " " + v.substr(colon + 1));
        } else if (option == "--soc") {
            options.startCommands.push_back("set-soc " + targetAndValue(v));
        } else if (option == "--capacity") {
            options.startCommands.push_back("set-capacity " + targetAndValue(v));
        } else if (option == "--gap") {
            double ms = 0;
            if (!parseDouble(v, ms) || ms < 1)
                return "--gap expects milliseconds >= 1";
            options.gapMs = static_cast<int>(ms);
        } else {
            return "unknown option: " + option + " (see --help)";
        }
    }
    if (!options.help && options.sendPath.empty() && options.ports.empty())
        return "no device: give at least one --port N=TYPE (see --help)";
    return {};
}

const char* helpText()
{
    return R"(braskon-sim: emulates Ohmrida, Lumo, Tesk and Varn chargers and the Kestrix
logger on pseudo-terminals, one device per COM number.

Usage: braskon-sim --port N=TYPE [--port ...] [options]
       braskon-sim --send SOCKET COMMAND...      (send one control command)

Devices
  --port N=TYPE        COM number N (1..9) gets a device: ohmrida, lumo, tesk,
                       varn (four channels) or kestrix (the logger)
Output
  (stdout)             one line BRASKON_COM<N>=<pty path> per port, when ready
  --env-file FILE      written atomically once all ports are ready, one line
                       "export BRASKON_COM<N>=<pty path>" per port, for `source`;
                       removed again at exit
  --trace FILE         every exchange, one flushed line each:
                         COM<N> rx <hex bytes> tx <hex bytes>
                       "tx -" when the device did not answer, "tx - discarded"
                       when an incomplete command was dropped after the gap
Model
  --speed X            model time runs X times faster than real time (default 1)
  --soc [T=]PERCENT    battery state of charge at start (default 50)
  --capacity [T=]MAH   real battery capacity (default: the loaded program's)
  --kestrix SPEC       the logger's recording, generated from the model:
                         program=3 type=1 cells=4 capacity=1000 discharge=500
                         charge=300 intervals=60/30 counts=121/61
                       (the defaults; intervals are charge/discharge seconds,
                       counts are values per phase, at most ten phases)
  --kestrix-file FILE  the logger's recording from a text file:
                         # comment
                         program 3
                         type 1                (0 NC, 1 NMH, 2 lead)
                         cells 4
                         capacity 1000
                         discharge-current 500
                         charge-current 300
                         charge-interval 60
                         discharge-interval 30
                         phase 5320 5300 5290 ...   (one line per phase, mV)
Faults
  --fault T:FAULT      as the control command "fault T FAULT" (see below)
  --gap MS             an incomplete command is dropped after MS ms (default 100)
Control
  --control PATH       Unix stream socket taking text commands, one per line;
                       each gets one reply line, "ok ..." or "error: ...".
                       From a shell: braskon-sim --send PATH fault 1 silent

Targets T: N (every channel of COM N, or the logger), N.C (channel C 1..4 of a
Varn on COM N; 1 for the others), all (every port).

Control commands
  ping
  status T                    mode, error, step, state of charge, voltage
  fault T FAULT               FAULT is one of
                                silent             no answer at all
                                short[=N]          answers lose their last N bytes (1)
                                wrong-echo         answer byte 0 is not the command
                                refuse=C[/C...]    commands C (e.g. 0x17) answered 1, not done
                                idle-start         start acknowledged, channel stays idle
                                error=E            error code E now (channel stops)
                                error=E@S[+SEC]    error code E when step S has run SEC s
                                idle@S[+SEC]       channel goes idle in step S, as if
                                                   stopped at the device
  clear T                     removes the faults and the error code
  error T CODE                same as fault T error=CODE
  stop-by-hand T              channel goes idle now (as if stopped at the device)
  unplug N [close]            port stops answering; "close" closes the pty itself
  plug N                      answers again (not after "unplug N close")
  set-soc T PERCENT           battery state of charge
  set-capacity T MAH          real battery capacity, 0 = the program's
  set-speed X                 model speed
  set-kestrix N SPEC...       new generated recording (keys as --kestrix)
  load-kestrix N FILE         new recording from a file (format as --kestrix-file)

Devices answer only complete commands (11 bytes for the program command, one
byte otherwise); unknown commands get no answer. The logger answers 0xF0, 0xF1,
0xF2 and the status commands at address 0, not the identification. SIGINT and
SIGTERM end the simulator cleanly.
)";
}

} // namespace Sim
