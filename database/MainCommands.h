#pragma once
// The record commands of both front ends without any window: reading what
// the user typed (the window's dialogs, braskon-cli's options) and checking
// it by the same rules. What is to be stored goes to the treatment engine
// (the window) or to a record store of braskon-cli's own, which write it.

#include "database/Records.h"

#include <QString>

#include <optional>
#include <stdexcept>

class QTimer;
class TBRASKDataModule;

namespace MainCommands {

// A dialog field whose text is not what the command needs.
class InputError : public std::runtime_error {
public:
    explicit InputError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// A decimal integer: optional blanks around, optional sign, digits, within the
// signed 32-bit range. Anything else throws InputError naming the text.
int ParseDecimal(const QString &text);

// |value|, as the sampling thresholds and the timer take what was typed;
// InputError for the one int whose magnitude is no int.
int Magnitude(int value);

// ---- new battery ----

// The type code of a type's name ("NC", "NMH", "Blei", in any case); nothing
// for another name.
std::optional<int> TypeFromName(const QString &name);

// Why a battery's description cannot be stored: longer than its column (50
// characters) or more than one line. `field` names it in the message. Empty
// when it can.
QString DescriptionProblem(const QString &description, const QString &field);

struct NewBatteryInput {
    QString id;         // IDEdit
    QString capacity;   // CapEdit, mAh
    int type = 0;       // TypCombo position = type code
    int form = 0;       // FormCombo position = form code
    QString cells;      // ZellenEdit
    QString brand;      // BezEdit
};

// The battery typed into the new-battery dialog. The texts are read in the
// order ID, description, capacity, cells; a text that is no decimal integer,
// or a description DescriptionProblem refuses, throws InputError. Stored with the ID proposal the dialog
// showed (RecordStore::AddBattery): an ID equal to it is allocated where the
// row is inserted, any other is taken as typed.
BatteryRecord NewBatteryFromInput(const NewBatteryInput &input);

// What the user is told when another program took the proposal meanwhile.
QString ProposalTakenText(const AddedBattery &added);

// ---- find and delete ----

QString DeleteBatteryQuestion(int batteryID);   // "Akku <ID> und alle ... löschen?"
QString DeleteBatteryCaption();
QString DeleteServiceQuestion();
QString DeleteServiceCaption();

// ---- options ----

struct OptionsTexts {
    QString timerSeconds;   // edTimer
    QString minDeltaU;      // edMinDeltaU, mV
    QString minDeltaI;      // edMinDeltaI, mA
};

// What the options dialog shows for the current settings.
OptionsTexts CurrentOptions(const TBRASKDataModule &database, const QTimer &timer);

// Takes the settings in the order MinDeltaI, MinDeltaU, timer period; a bad
// field throws InputError there, so the settings before it keep their new
// values and the later ones their old. Values are taken as absolute values;
// the period is at least 1000 ms. A period beyond the timer's range
// (about 24 days) is refused like a bad text.
void ApplyOptions(const OptionsTexts &texts, TBRASKDataModule &database, QTimer &timer);

// The timer period for a number of seconds typed: |seconds| x 1000, at least
// 1000 ms. Throws InputError beyond the timer's range.
int TimerPeriodForSeconds(int seconds);

}  // namespace MainCommands
