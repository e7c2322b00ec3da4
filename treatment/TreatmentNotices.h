#pragma once
// What a lab user is told without looking at the window: a treatment that
// ended (with its result and what it measured), a charger that has not
// answered for a minute, records that could not be saved for a minute.
// TTreatmentNotices follows the engine's reports and decides, once per event,
// that a notice is due; how it reaches the user (desktop notification, sound,
// task-bar entry, end command) is the front end's business.
//
// The end command is run by the shell with the treatment's facts in its
// environment:
//   BRASKON_RESULT          OK, Fehler or abgebrochen
//   BRASKON_SERVICE_ID      the treatment's (record's) ID
//   BRASKON_BATTERY_ID      the battery's ID
//   BRASKON_BATTERY         the battery's description
//   BRASKON_NOMINAL_MAH     the battery's nominal capacity
//   BRASKON_TERMINAL        the charger terminal, e.g. "Lumo an COM1"
//   BRASKON_PROGRAM         the program's name
//   BRASKON_CHARGED_MAH     capacity of the last charge step that ended OK (empty: none)
//   BRASKON_DISCHARGED_MAH  the same for discharging
//   BRASKON_STEPS           every step: "1 Entladen OK 1980 mAh; 2 Laden OK 2100 mAh"
//   BRASKON_MESSAGE         the notice's text

#include "treatment/ServiceViews.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <map>
#include <set>

class QProcess;
class TTreatmentEngine;

struct EndFacts {
    int ServiceID = 0;
    int BatteryID = 0;
    QString BatteryName;
    int NominalCapacity = 0;
    QString Terminal;
    int Program = 0;
    QString Result;          // "OK", "Fehler", "abgebrochen"
    int Charged = -1;        // mAh, -1: none measured
    int Discharged = -1;
    QVector<StepRecord> Steps;
};

struct TreatmentNotice {
    enum Kind { Ended, ChargerSilent, SavingFailed };
    Kind What = Ended;
    int ServiceID = 0;
    bool ByUser = false;     // an end the user gave himself (stop, quit)
    QString Title, Text;     // German, for a notification
    EndFacts Facts;          // for Ended
};

class TTreatmentNotices : public QObject {
    Q_OBJECT
public:
    // A charger silent and writes failing this long make a notice (once per outage).
    static constexpr int AlarmSeconds = 60;

    explicit TTreatmentNotices(QObject *parent = nullptr);
    // Follows the engine's started, polled and stopped treatments.
    void Follow(TTreatmentEngine &engine);

    void Started(const TreatmentSetup &setup);
    void Polled(const PollReport &report, const QDateTime &now = QDateTime::currentDateTime());
    // The user stopped the treatment; an end not reported yet is "abgebrochen".
    void Stopped(int serviceID);

    // The environment of the end command: this process's, with the facts added.
    static QProcessEnvironment EndEnvironment(const EndFacts &facts, const QString &message,
                                              QProcessEnvironment base = QProcessEnvironment::systemEnvironment());
    // A process that runs `command` with the shell, its environment set; not started.
    static QProcess *EndProcess(const QString &command, const TreatmentNotice &notice, QObject *parent);

signals:
    void Noticed(const TreatmentNotice &notice);

private:
    struct Watched {
        TreatmentSetup Setup;
        QVector<StepRecord> Steps;
        bool SilenceNoticed = false;
        bool SavingNoticed = false;
    };
    void ended(Watched &watched, bool byUser);
    QString who(const Watched &watched) const;

    std::map<int, Watched> watched_;   // by service ID
    std::set<int> ended_;
};

Q_DECLARE_METATYPE(TreatmentNotice)
