#pragma once
// How the window tells the user what TTreatmentNotices decides: a desktop
// notification through the freedesktop notification service on the session
// bus, a sound, the window's task-bar entry marked, and for an ended
// treatment the end command. Each is switched in the options dialog.
//
// Without a session bus (a bare X server) or without a notification service
// on it, the notification is left out and nothing else changes: the call is
// sent without waiting for an answer, so the window never waits on the bus.

#include "treatment/TreatmentNotices.h"

#include <QObject>
#include <QString>

#include <functional>

class QSettings;
class QWidget;

struct NoticeOptions {
    bool Desktop = true;
    bool Sound = true;
    bool TaskBar = true;
    QString EndCommand;   // run by the shell at a treatment's end; empty: none

    void Load(const QSettings &settings);
    void Save(QSettings &settings) const;
};

// Sends desktop notifications; a message without an answer awaited.
class TDesktopNotifier {
public:
    // Whether a session bus can be reached without starting one.
    static bool SessionBusAvailable();
    // True when the call was handed to the bus.
    static bool Send(const QString &title, const QString &text, bool urgent);
};

class TNotifications : public QObject {
    Q_OBJECT
public:
    explicit TNotifications(QWidget &window, QObject *parent = nullptr);
    TTreatmentNotices &Notices() { return notices_; }
    void SetOptions(const NoticeOptions &options) { options_ = options; }
    const NoticeOptions &Options() const { return options_; }
    // What plays the sound; QApplication::beep by default.
    void SetSound(std::function<void()> sound) { sound_ = std::move(sound); }

    void Show(const TreatmentNotice &notice);

signals:
    // The end command could not be started (German).
    void EndCommandFailed(const QString &reason);

private:
    QWidget &window_;
    TTreatmentNotices notices_;
    NoticeOptions options_;
    std::function<void()> sound_;
};
