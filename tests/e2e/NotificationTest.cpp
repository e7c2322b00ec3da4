// A treatment against braskon-sim ends, and the user hears of it: a desktop
// notification with the result reaches the notification service on a private
// session bus (run under dbus-run-session; skipped without a bus), and the end
// command runs with the treatment's facts in its environment.
#include <gtest/gtest.h>

#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"

#include "mainwindow/Mainform.h"
#include "mainwindow/Notifications.h"
#include "treatment/TreatmentEngine.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QObject>
#include <QRegularExpression>
#include <QVariantMap>

namespace {

// What a desktop's notification daemon receives.
class NotificationListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Received {
        QString app, summary, body;
        int urgency = -1;
    };
    QVector<Received> received;

public slots:
    uint Notify(const QString &app, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int)
    {
        received.append({app, summary, body, hints.value("urgency", -1).toInt()});
        return uint(received.size());
    }
};

} // namespace

TEST(Notifications, TreatmentEndReachesTheDesktopAndRunsTheEndCommand)
{
    if (!SimulatorBuilt())
        GTEST_SKIP() << "braskon-sim is not built";
    // Never on the user's own bus, where a real daemon owns the name.
    if (qEnvironmentVariableIsEmpty("BRASKON_PRIVATE_BUS") || !TDesktopNotifier::SessionBusAvailable())
        GTEST_SKIP() << "needs a private session bus (ctest runs it under dbus-run-session)";
    // The listener on a connection of its own, as another program on the bus.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-listener");
    ASSERT_TRUE(bus.isConnected());
    NotificationListener listener;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &listener, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications")) << bus.lastError().message().toStdString();

    // A battery 30 % full discharged at C: over in about two seconds at this speed.
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "600", "--soc", "30"});
    simulator.start();
    Program program;
    ModalDriver driver;
    TMainForm &form = program.Form();
    QTemporaryDir dir;
    const QString facts = dir.filePath("facts.txt");
    NoticeOptions options;
    options.Sound = false;
    options.EndCommand = QStringLiteral("env | grep ^BRASKON_ | sort > '%1.part' && mv '%1.part' '%1'").arg(facts);
    form.Notifications()->SetOptions(options);
    const int batteryID = program.CreateBatteryWithInsertKey(driver, {"300", 1, "4", "Sender"});
    Part<QTimer>(form, "TheTimer")->setInterval(50);
    ASSERT_NE(program.StartTreatment(driver, {"Lumo an COM1", "Entladen", Current::C, Current::C}, 30000), nullptr)
        << driver.Report().toStdString();
    const int serviceID = program.Parts().Engine().Treatments().front().ServiceID;

    ASSERT_TRUE(WaitFor([&] { return !listener.received.isEmpty() && QFile::exists(facts); }, 60000))
        << simulator.logText();
    const NotificationListener::Received &shown = listener.received.front();
    EXPECT_EQ(shown.app, "Braskon");
    EXPECT_EQ(shown.summary, "Behandlung beendet: OK");
    EXPECT_TRUE(shown.body.startsWith(QStringLiteral("Akku %1 (Sender) an Lumo an COM1, Entladen (Behandlung %2): entladen ")
                                          .arg(batteryID)
                                          .arg(serviceID)))
        << shown.body.toStdString();
    EXPECT_EQ(shown.urgency, 1);

    QFile file(facts);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString environment = QString::fromUtf8(file.readAll());
    for (const QString &line : {QStringLiteral("BRASKON_RESULT=OK"), QStringLiteral("BRASKON_BATTERY=Sender"),
                                QStringLiteral("BRASKON_BATTERY_ID=%1").arg(batteryID),
                                QStringLiteral("BRASKON_SERVICE_ID=%1").arg(serviceID),
                                QStringLiteral("BRASKON_PROGRAM=Entladen"), QStringLiteral("BRASKON_NOMINAL_MAH=300"),
                                QStringLiteral("BRASKON_TERMINAL=Lumo an COM1"), QStringLiteral("BRASKON_CHARGED_MAH=")})
        EXPECT_TRUE(environment.contains(line + '\n')) << line.toStdString() << " in\n" << environment.toStdString();
    EXPECT_TRUE(environment.contains(QRegularExpression("BRASKON_DISCHARGED_MAH=[1-9][0-9]*\n")))
        << environment.toStdString();
    bus.unregisterService("org.freedesktop.Notifications");
}

#include "NotificationTest.moc"
