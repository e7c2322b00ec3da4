// The database chosen in the options dialog: checked there, kept in the
// settings, and taken by the next start of braskon and braskon-cli unless
// --database or BRASKON_DATABASE says otherwise.

#include "ProgramFixture.h"

#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "mainwindow/Dialogs.h"
#include "mainwindow/Mainform.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString settingKey = QStringLiteral("database/location");

// A program started with its settings in `home` (config, data and state
// folders there) and without BRASKON_DATABASE; the exit code, or -1.
int Start(const QString &program, const QStringList &args, const QString &home,
          const QString &environmentDatabase = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("BRASKON_DATABASE"));
    if (!environmentDatabase.isEmpty())
        environment.insert(QStringLiteral("BRASKON_DATABASE"), environmentDatabase);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool HasDatabase(const QString &folder)
{
    return QFile::exists(folder + QStringLiteral("/braskon.db"));
}

}  // namespace

class DatabaseSettingTest : public QObject {
    Q_OBJECT
private slots:
    void dialogRefusesWhatIsNoDatabase();
    void dialogKeepsTheChoiceForTheNextStart();
    void precedenceOfTheSources_data();
    void precedenceOfTheSources();
    void bothProgramsStartOnTheChosenDatabase();
};

void DatabaseSettingTest::dialogRefusesWhatIsNoDatabase()
{
    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("notizen.txt"));
    QFile(plainFile).open(QIODevice::WriteOnly);
    const struct {
        QString typed;
        QString messagePart;
    } refused[] = {
        {plainFile, QStringLiteral("ist eine Datei, kein Ordner")},
        {QStringLiteral("postgresql://lab@rechner/labor?sslmode"), QStringLiteral("hat keinen Wert")},
    };
    TOptionsDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ModalDriver driver;
    for (const auto &row : refused) {
        dialog.Pages->setCurrentIndex(1);
        dialog.edDatabase->setText(row.typed);
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        // A message, and the dialog stays open with the text as typed.
        QCOMPARE(driver.messages.size(), 1);
        QVERIFY2(driver.messages.front().text.contains(row.messagePart),
                 qPrintable(driver.messages.front().text));
        QCOMPARE(driver.messages.front().caption, QStringLiteral("Datenbank"));
        driver.messages.clear();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.edDatabase->text(), row.typed);
        QCOMPARE(dialog.Pages->currentIndex(), 0);
    }
}

void DatabaseSettingTest::dialogKeepsTheChoiceForTheNextStart()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("braskon.conf")), QSettings::IniFormat);
    const QString lab = dir.filePath(QStringLiteral("labor"));   // made at the next start
    Program program;
    TMainForm &form = program.Form();
    form.SetSettings(&settings);
    ModalDriver driver;

    // Typed with a trailing blank; the note says when it applies and what runs now.
    QString note, shownBefore;
    driver.OnDialog([&](QDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("edDatabase"));
        QVERIFY(edit);
        shownBefore = edit->text();
        note = dialog->findChild<QLabel *>(QStringLiteral("lbDatabaseNote"))->text();
        edit->setText(lab + QStringLiteral(" "));
        dialog->findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    form.MenuOptions->trigger();
    QCOMPARE(driver.Failures(), 0);
    QCOMPARE(shownBefore, QString());
    QVERIFY2(note.contains(QStringLiteral("ab dem nächsten Start")), qPrintable(note));
    QVERIFY2(note.contains(program.Directory()), qPrintable(note));
    QCOMPARE(settings.value(settingKey).toString(), lab);
    QCOMPARE(DataLocation::StoredChoice(settings), lab);
    // This run goes on with its database.
    QVERIFY(program.Db().DatabaseFile().startsWith(program.Directory()));
    QCOMPARE(DataLocation::Choose(QString(), dir.path(), DataLocation::StoredChoice(settings)).directory, lab);

    // Shown again next time; a server URL replaces it; Cancel keeps it.
    const QString server = QStringLiteral("postgresql://labor@db.example:5433/akkus");
    driver.OnDialog([&](QDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("edDatabase"));
        shownBefore = edit->text();
        edit->setText(server);
        dialog->findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    form.MenuOptions->trigger();
    QCOMPARE(shownBefore, lab);
    QCOMPARE(DataLocation::StoredChoice(settings), server);
    driver.OnDialog([](QDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("edDatabase"))->setText(QStringLiteral("/anderswo"));
        dialog->reject();
    });
    form.MenuOptions->trigger();
    QCOMPARE(DataLocation::StoredChoice(settings), server);
    const DataLocation onServer = DataLocation::Choose(QString(), dir.path(), DataLocation::StoredChoice(settings));
    QVERIFY(onServer.IsServer());
    QCOMPARE(onServer.directory, server);

    // An empty field goes back to the default and removes the key.
    driver.OnDialog([](QDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("edDatabase"))->clear();
        dialog->findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    form.MenuOptions->trigger();
    QVERIFY(!settings.contains(settingKey));
    QCOMPARE(driver.Failures(), 0);
    QCOMPARE(driver.unexpectedDialogs, 0);
}

void DatabaseSettingTest::precedenceOfTheSources_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("expected");   // "default": the user's data folder
    const QString server = QStringLiteral("postgresql://labor@db.example/akkus");
    QTest::newRow("option wins") << "/tmp/option" << "/tmp/umgebung" << "/tmp/einstellung" << "/tmp/option";
    QTest::newRow("environment over setting") << "" << "/tmp/umgebung" << "/tmp/einstellung" << "/tmp/umgebung";
    QTest::newRow("setting over default") << "" << "" << "/tmp/einstellung" << "/tmp/einstellung";
    QTest::newRow("server in the setting") << "" << "" << server << server;
    QTest::newRow("option over server setting") << "/tmp/option" << "" << server << "/tmp/option";
    QTest::newRow("nothing") << "" << "" << "" << "default";
}

void DatabaseSettingTest::precedenceOfTheSources()
{
    QFETCH(QString, option);
    QFETCH(QString, environment);
    QFETCH(QString, setting);
    QFETCH(QString, expected);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    if (environment.isEmpty())
        qunsetenv("BRASKON_DATABASE");
    else
        qputenv("BRASKON_DATABASE", environment.toLocal8Bit());
    const DataLocation location = DataLocation::Choose(option, home.filePath(QStringLiteral("bin")), setting);
    qunsetenv("BRASKON_DATABASE");
    qunsetenv("XDG_DATA_HOME");
    QCOMPARE(location.directory, expected == QLatin1String("default")
                                     ? home.path() + QStringLiteral("/braskon")
                                     : expected);
}

void DatabaseSettingTest::bothProgramsStartOnTheChosenDatabase()
{
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("config/braskon"));
    // The file the programs read: what the dialog writes at the user's place.
    QSettings settings(home.filePath(QStringLiteral("config/braskon/braskon.conf")), QSettings::IniFormat);
    auto choose = [&settings](const QString &folder) {
        QString error;
        QVERIFY2(DataLocation::StoreChoice(settings, folder, error), qPrintable(error));
    };
    const QString forCli = home.filePath(QStringLiteral("labor-cli"));
    const QString forWindow = home.filePath(QStringLiteral("labor-fenster"));
    const QString fromEnvironment = home.filePath(QStringLiteral("umgebung"));
    const QString fromOption = home.filePath(QStringLiteral("option"));
    const QString userDefault = home.filePath(QStringLiteral("data/braskon"));

    choose(forCli);
    QCOMPARE(Start(QStringLiteral(BRASKON_CLI), {QStringLiteral("battery"), QStringLiteral("list")}, home.path()), 0);
    QVERIFY(HasDatabase(forCli));

    choose(forWindow);
    const QString picture = home.filePath(QStringLiteral("fenster.png"));
    QCOMPARE(Start(QStringLiteral(BRASKON_GUI), {QStringLiteral("--screenshot"), picture}, home.path()), 0);
    QVERIFY(HasDatabase(forWindow));
    QVERIFY(QFile::exists(picture));

    // The environment and the option still win over the setting.
    QCOMPARE(Start(QStringLiteral(BRASKON_CLI), {QStringLiteral("battery"), QStringLiteral("list")}, home.path(),
                   fromEnvironment),
             0);
    QVERIFY(HasDatabase(fromEnvironment));
    QCOMPARE(Start(QStringLiteral(BRASKON_CLI),
                   {QStringLiteral("--database"), fromOption, QStringLiteral("battery"), QStringLiteral("list")},
                   home.path(), fromEnvironment),
             0);
    QVERIFY(HasDatabase(fromOption));
    QVERIFY(!HasDatabase(userDefault));

    // Without a choice the user's data folder is back.
    choose(QString());
    QCOMPARE(Start(QStringLiteral(BRASKON_CLI), {QStringLiteral("battery"), QStringLiteral("list")}, home.path()), 0);
    QVERIFY(HasDatabase(userDefault));
}

QTEST_MAIN(DatabaseSettingTest)
#include "tst_database_setting.moc"
