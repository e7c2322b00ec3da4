#include "mainwindow/Notifications.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString desktopKey = QStringLiteral("notices/desktop");
const QString soundKey = QStringLiteral("notices/sound");
const QString taskBarKey = QStringLiteral("notices/taskBar");
const QString endCommandKey = QStringLiteral("notices/endCommand");

} // namespace

void NoticeOptions::Load(const QSettings &settings)
{
    Desktop = settings.value(desktopKey, Desktop).toBool();
    Sound = settings.value(soundKey, Sound).toBool();
    TaskBar = settings.value(taskBarKey, TaskBar).toBool();
    EndCommand = settings.value(endCommandKey, EndCommand).toString();
}

void NoticeOptions::Save(QSettings &settings) const
{
    settings.setValue(desktopKey, Desktop);
    settings.setValue(soundKey, Sound);
    settings.setValue(taskBarKey, TaskBar);
    settings.setValue(endCommandKey, EndCommand);
}

bool TDesktopNotifier::SessionBusAvailable()
{
    // Without an address libdbus would try to launch a bus of its own
    // (autolaunch through X11), which may take its time; the per-user bus
    // of systemd sessions sits at a known place.
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool TDesktopNotifier::Send(const QString &title, const QString &text, bool urgent)
{
    if (!SessionBusAvailable())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(urgent ? 2 : 1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("de.quentax.braskon"));
    call << QStringLiteral("Braskon") << uint(0) << QStringLiteral("braskon") << title << text << QStringList()
         << hints << int(-1);
    // Sent, not called: the answer (the notification's number) is not needed.
    return bus.send(call);
}

TNotifications::TNotifications(QWidget &window, QObject *parent)
    : QObject(parent), window_(window), sound_([] { QApplication::beep(); })
{
    connect(&notices_, &TTreatmentNotices::Noticed, this, &TNotifications::Show);
}

void TNotifications::Show(const TreatmentNotice &notice)
{
    if (notice.What == TreatmentNotice::Ended && !options_.EndCommand.trimmed().isEmpty()) {
        QProcess *process = TTreatmentNotices::EndProcess(options_.EndCommand, notice, nullptr);
        // Detached: the command may outlive the window (a mail still being sent).
        qint64 pid = 0;
        if (!process->startDetached(&pid))
            emit EndCommandFailed(QStringLiteral("Der Befehl am Ende der Behandlung %1 lief nicht: %2")
                                      .arg(notice.ServiceID)
                                      .arg(process->errorString()));
        delete process;
    }
    // The user who stopped a treatment at the window knows it.
    if (notice.ByUser)
        return;
    const bool urgent = notice.What != TreatmentNotice::Ended || notice.Facts.Result != QLatin1String("OK");
    if (options_.Desktop)
        TDesktopNotifier::Send(notice.Title, notice.Text, urgent);
    if (options_.Sound && sound_)
        sound_();
    if (options_.TaskBar)
        QApplication::alert(&window_);
}
