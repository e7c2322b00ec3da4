#include "simulator/Options.h"

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
        } else if (option == "--version" || option == "-v") {
            options.version = true;
        } else if (option == "--send") {
            if (!value(options.sendPath))
                return "--send braucht den Pfad des Steuer-Sockets und einen Befehl";
            for (++i; i < args.size(); ++i)
                options.sendCommand += (options.sendCommand.empty() ? "" : " ") + args[i];
            if (options.sendCommand.empty())
                return "--send braucht einen Befehl";
        } else if (!value(v)) {
            return option.compare(0, 2, "--") == 0 ? option + " braucht einen Wert (siehe --help)"
                                                   : "unerwartetes Argument: " + option;
        } else if (option == "--port") {
            const auto eq = v.find('=');
            Options::Port port;
            port.com = eq == 1 ? v[0] - '0' : 0;
            port.type = eq == std::string::npos ? "" : v.substr(eq + 1);
            if (port.com < 1 || port.com > 9)
                return "--port erwartet N=TYP mit N von 1 bis 9: " + v;
            if (port.type != "ohmrida" && port.type != "lumo" && port.type != "tesk"
                && port.type != "varn" && port.type != "kestrix")
                return "unbekannter Ger\u00e4tetyp (ohmrida, lumo, tesk, varn, kestrix): " + port.type;
            for (const auto& other : options.ports)
                if (other.com == port.com)
                    return "COM" + std::to_string(port.com) + " doppelt angegeben";
            options.ports.push_back(port);
        } else if (option == "--speed") {
            if (!parseDouble(v, options.speed) || options.speed <= 0)
                return "--speed erwartet eine positive Zahl: " + v;
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
                return "--fault erwartet ZIEL:FEHLER, z. B. 3.2:silent oder 1:error=5@2+60";
            options.startCommands.push_back("fault " + v.substr(0, colon) + " " + v.substr(colon + 1));
        } else if (option == "--soc") {
            options.startCommands.push_back("set-soc " + targetAndValue(v));
        } else if (option == "--capacity") {
            options.startCommands.push_back("set-capacity " + targetAndValue(v));
        } else if (option == "--gap") {
            double ms = 0;
            if (!parseDouble(v, ms) || ms < 1)
                return "--gap erwartet Millisekunden >= 1";
            options.gapMs = static_cast<int>(ms);
        } else {
            return "unbekannte Option: " + option + " (siehe --help)";
        }
    }
    if (!options.help && !options.version && options.sendPath.empty() && options.ports.empty())
        return "kein Ger\u00e4t: mindestens ein --port N=TYP angeben (siehe --help)";
    return {};
}

const char* helpText()
{
    return R"(braskon-sim: simuliert Ohmrida-, Lumo-, Tesk- und Varn-Ladegeräte und den
Kestrix-Datenlogger an Pseudo-Terminals, ein Gerät je COM-Nummer.

Aufruf: braskon-sim --port N=TYP [--port ...] [Optionen]
  oder: braskon-sim --send SOCKET BEFEHL...
  oder: braskon-sim --help | --version

Geräte:
  --port N=TYP         COM-Nummer N (1..9) bekommt ein Gerät: ohmrida, lumo, tesk,
                       varn (vier Kanäle) oder kestrix (der Logger)
Ausgabe:
  (stdout)             eine Zeile BRASKON_COM<N>=<pty-Pfad> je Port, sobald bereit
  --env-file DATEI     wird geschrieben, sobald alle Ports bereit sind, eine Zeile
                       "export BRASKON_COM<N>=<pty-Pfad>" je Port und
                       "export BRASKON_DEVICE_SPEED=<Tempo>" (Braskon misst die
                       Zähler der Geräte daran), für `source`; beim Ende wieder
                       entfernt
  --trace DATEI        jeder Austausch, je eine sofort geschriebene Zeile:
                         COM<N> rx <Hex-Bytes> tx <Hex-Bytes>
                       "tx -", wenn das Gerät nicht antwortete, "tx - discarded",
                       wenn ein unvollständiger Befehl nach der Pause verworfen wurde
Modell:
  --speed X            die Modellzeit läuft X-mal schneller als die echte (Standard 1)
  --soc [T=]PROZENT    Ladezustand des Akkus beim Start (Standard 50)
  --capacity [T=]MAH   echte Akkukapazität (Standard: die des geladenen Programms)
  --kestrix SPEC       die Aufzeichnung des Loggers, aus dem Modell erzeugt:
                         program=3 type=1 cells=4 capacity=1000 discharge=500
                         charge=300 intervals=60/30 counts=121/61
                       (die Standardwerte; intervals sind Lade-/Entladesekunden,
                       counts die Werte je Phase, höchstens zehn Phasen)
  --kestrix-file DATEI die Aufzeichnung des Loggers aus einer Textdatei:
                         # Kommentar
                         program 3
                         type 1                (0 NC, 1 NMH, 2 Blei)
                         cells 4
                         capacity 1000
                         discharge-current 500
                         charge-current 300
                         charge-interval 60
                         discharge-interval 30
                         phase 5320 5300 5290 ...   (eine Zeile je Phase, mV)
Fehler:
  --fault T:FEHLER     wie der Steuerbefehl "fault T FEHLER" (siehe unten)
  --gap MS             ein unvollständiger Befehl wird nach MS ms verworfen (Standard 100)
Steuerung:
  --control PFAD       Unix-Stream-Socket für Textbefehle, einer je Zeile; jeder
                       bekommt eine Antwortzeile, "ok ..." oder "error: ...".
                       Aus der Shell: braskon-sim --send PFAD fault 1 silent
  -h, --help           diese Hilfe anzeigen
  -v, --version        Versionsnummer anzeigen

Ziele T: N (jeder Kanal an COM N, oder der Logger), N.C (Kanal C 1..4 eines
Varn an COM N; 1 bei den anderen), all (jeder Port).

Steuerbefehle:
  ping
  status T                    Modus, Fehler, Schritt, Ladezustand, Spannung
  fault T FEHLER              FEHLER ist einer von
                                silent             gar keine Antwort
                                short[=N]          Antworten verlieren ihre letzten N Bytes (1)
                                wrong-echo         Antwortbyte 0 ist nicht der Befehl
                                refuse=C[/C...]    Befehle C (z. B. 0x17) mit 1 beantwortet, nicht ausgeführt
                                idle-start         Start bestätigt, Kanal bleibt untätig
                                error=E            jetzt Fehlercode E (Kanal hält an)
                                error=E@S[+SEK]    Fehlercode E, wenn Schritt S SEK s gelaufen ist
                                idle@S[+SEK]       Kanal wird in Schritt S untätig, als wäre
                                                   er am Gerät angehalten worden
  clear T                     entfernt die Fehler und den Fehlercode
  error T CODE                wie fault T error=CODE
  stop-by-hand T              Kanal wird jetzt untätig (wie am Gerät angehalten)
  unplug N [close]            Port antwortet nicht mehr; "close" schließt auch das pty
  plug N                      antwortet wieder (nicht nach "unplug N close")
  set-soc T PROZENT           Ladezustand des Akkus
  set-capacity T MAH          echte Akkukapazität, 0 = die des Programms
  set-speed X                 Modellgeschwindigkeit (ein schnelleres Tempo auch
                              Braskon in BRASKON_DEVICE_SPEED sagen)
  set-kestrix N SPEC...       neue erzeugte Aufzeichnung (Schlüssel wie bei --kestrix)
  load-kestrix N DATEI        neue Aufzeichnung aus einer Datei (Format wie --kestrix-file)

Geräte antworten nur auf vollständige Befehle (11 Bytes beim Programmbefehl, sonst
ein Byte); unbekannte Befehle bleiben unbeantwortet. Der Logger beantwortet 0xF0, 0xF1,
0xF2 und die Statusbefehle an Adresse 0, nicht die Kennung. SIGINT und SIGTERM
beenden den Simulator sauber.
)";
}

} // namespace Sim
