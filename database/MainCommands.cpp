#include "database/MainCommands.h"

#include "database/Datamodule.h"
#include "database/Texts.h"

#include <QTimer>

#include <climits>
#include <cstdlib>

namespace MainCommands {

int ParseDecimal(const QString &text)
{
    const std::optional<int> value = WholeNumber(text);
    if (!value)
        throw InputError(QStringLiteral("\"%1\" ist keine gültige ganze Zahl").arg(text));
    return *value;
}

int Magnitude(int value)
{
    if (value == INT_MIN)
        throw InputError(QStringLiteral("%1 ist zu groß").arg(value));
    return std::abs(value);
}

std::optional<int> TypeFromName(const QString &name)
{
    for (int type = 0; type <= 2; ++type) {
        if (name.compare(TypeName(type), Qt::CaseInsensitive) == 0)
            return type;
    }
    return std::nullopt;
}

QString DescriptionProblem(const QString &description, const QString &field)
{
    constexpr int Column = 50;   // F_Brand VARCHAR(50)
    if (description.size() > Column)
        return QStringLiteral("%1 ist l\u00e4nger als %2 Zeichen").arg(field).arg(Column);
    return OneLineProblem(description, field);
}

BatteryRecord NewBatteryFromInput(const NewBatteryInput &input)
{
    BatteryRecord battery;
    battery.ID = ParseDecimal(input.id);
    // Refused before the engine is asked, so no ID is used up.
    const QString problem = DescriptionProblem(input.brand, QStringLiteral("Die Beschreibung"));
    if (!problem.isEmpty())
        throw InputError(problem);
    battery.Capacity = ParseDecimal(input.capacity);
    battery.Type = input.type;
    battery.Form = input.form;
    battery.Cells = ParseDecimal(input.cells);
    battery.Brand = input.brand;
    return battery;
}

QString ProposalTakenText(const AddedBattery &added)
{
    return QStringLiteral("Die ID %1 wurde inzwischen an einem anderen Arbeitsplatz vergeben; der neue Akku hat die "
                          "ID %2 erhalten.")
        .arg(added.Proposal)
        .arg(added.ID);
}

QString DeleteBatteryQuestion(int batteryID)
{
    return QStringLiteral("Akku ") + QString::number(batteryID)
           + QStringLiteral(" und alle zugehörigen Aufzeichnungen wirklich löschen?");
}

QString DeleteBatteryCaption()
{
    return QStringLiteral("Akku löschen");
}

QString DeleteServiceQuestion()
{
    return QStringLiteral("Ausgewählte Aufzeichnung wirklich löschen?");
}

QString DeleteServiceCaption()
{
    return QStringLiteral("Aufzeichnung Löschen");
}

OptionsTexts CurrentOptions(const TBRASKDataModule &database, const QTimer &timer)
{
    return {QString::number(timer.interval() / 1000), QString::number(database.MinDeltaU()),
            QString::number(database.MinDeltaI())};
}

int TimerPeriodForSeconds(int seconds)
{
    const qlonglong period = static_cast<qlonglong>(Magnitude(seconds)) * 1000;
    if (period > INT_MAX)
        throw InputError(QStringLiteral("Aufzeichnungstakt %1 s ist zu groß").arg(seconds));
    return period < 1000 ? 1000 : static_cast<int>(period);
}

void ApplyOptions(const OptionsTexts &texts, TBRASKDataModule &database, QTimer &timer)
{
    database.SetMinDeltaI(Magnitude(ParseDecimal(texts.minDeltaI)));
    database.SetMinDeltaU(Magnitude(ParseDecimal(texts.minDeltaU)));
    timer.setInterval(TimerPeriodForSeconds(ParseDecimal(texts.timerSeconds)));
}

}  // namespace MainCommands
