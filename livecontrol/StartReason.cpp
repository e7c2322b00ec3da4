#include "livecontrol/StartReason.h"

namespace {

// "<what> 2000 mA liegt über 500 mA, dem Höchstwert von Lumo an COM1"; empty within the range.
QString OutOfRange(const QString &what, int current, const StartChoice &choice)
{
    if (current > choice.MaxCurrent)
        return QStringLiteral("%1 %2 mA liegt über %3 mA, dem Höchstwert von %4")
            .arg(what)
            .arg(current)
            .arg(choice.MaxCurrent)
            .arg(choice.Terminal);
    if (current < choice.MinCurrent)
        return QStringLiteral("%1 %2 mA liegt unter %3 mA, dem Mindestwert von %4")
            .arg(what)
            .arg(current)
            .arg(choice.MinCurrent)
            .arg(choice.Terminal);
    return QString();
}

} // namespace

QString StartBlockedReason(const StartChoice &choice)
{
    if (!choice.TerminalKnown) {
        if (choice.Searching && choice.TerminalsListed == 0)
            return QStringLiteral("Die Ladegeräte werden noch gesucht");
        if (choice.TerminalsListed == 0)
            return QStringLiteral("Kein freies Ladegerät gefunden");
        if (choice.Terminal.trimmed().isEmpty())
            return QStringLiteral("Kein Ladegerät gewählt");
        return QStringLiteral("\"%1\" ist kein gefundenes Ladegerät").arg(choice.Terminal);
    }
    if (choice.StandardPage) {
        QString reason = OutOfRange(QStringLiteral("Ladestrom"), choice.ChargeCurrent, choice);
        if (reason.isEmpty())
            reason = OutOfRange(QStringLiteral("Entladestrom"), choice.DischargeCurrent, choice);
        return reason;
    }
    bool anyStep = false;
    for (size_t row = 0; row < choice.Rows.size(); ++row) {
        const UserGridRow &cells = choice.Rows[row];
        if (cells.Function.trimmed().isEmpty() || cells.Current.trimmed().isEmpty())
            continue;
        anyStep = true;
        const QString reason =
            OutOfRange(QStringLiteral("Schritt %1: Strom").arg(row + 1), cells.Current.trimmed().toInt(), choice);
        if (!reason.isEmpty())
            return reason;
    }
    if (!anyStep)
        return QStringLiteral("Noch kein Schritt eingetragen (Funktion L oder E und Strom)");
    try {
        ParseUserSteps(choice.Rows);
    } catch (const UserStepError &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

QString CurrentRangeText(const StartChoice &choice)
{
    if (!choice.TerminalKnown)
        return QString();
    return QStringLiteral("%1: %2 bis %3 mA").arg(choice.Terminal).arg(choice.MinCurrent).arg(choice.MaxCurrent);
}
