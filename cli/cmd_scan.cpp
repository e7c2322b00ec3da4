// braskon-cli scan: searches COM1..COM9 for chargers and lists their terminals,
// through the treatment engine's search (every port at once).

#include "cli/Arguments.h"
#include "cli/Command.h"

#include "treatment/PortSettings.h"
#include "treatment/TreatmentEngine.h"

#include <QEventLoop>

namespace {

int scanCommand(const QStringList &args, Cli::Context &context)
{
    Cli::Arguments arguments({});
    const Cli::Arguments::Outcome outcome = arguments.Read(args);
    if (outcome == Cli::Arguments::Outcome::Help)
        return Cli::ShowHelp(context);
    if (outcome == Cli::Arguments::Outcome::Wrong) {
        context.err << "Aufruf: braskon-cli scan" << Qt::endl;
        return 2;
    }
    TTreatmentEngine engine;
    QEventLoop loop;
    QVector<TerminalInfo> found;
    QObject::connect(&engine, &TTreatmentEngine::SearchFinished, &loop,
                     [&](int, const QVector<TerminalInfo> &terminals) {
                         found = terminals;
                         loop.quit();
                     });
    engine.SearchTerminals();
    loop.exec();
    for (const TerminalInfo &terminal : found)
        context.out << terminal.Name << '\t' << terminal.Kind << '\t'
                    << QStringLiteral("0x%1").arg(uint(terminal.Address), 2, 16, QLatin1Char('0')) << '\n';
    context.out.flush();
    // A port the user may not open looks like an empty port to the search:
    // say so. Finding nothing is a failure, with or without that reason.
    const QStringList denied = PortSettings::DeniedPortMessages();
    for (const QString &message : denied)
        context.err << "braskon-cli scan: " << message << '\n';
    if (found.isEmpty())
        context.err << "braskon-cli scan: kein Ladeterminal an COM1..COM9 gefunden (braskon-cli ports zeigt die "
                       "Zuordnung)\n";
    context.err.flush();
    return found.isEmpty() ? 1 : 0;
}

static const Cli::CommandRegistration registration(
    "scan", "scan                 die Ladeterminals an COM1..COM9 suchen (Name, Ger\u00e4tetyp, Adresse)",
    scanCommand);

} // namespace
