// The program beside a treatment recorded by braskon-cli: a running recorder's
// terminal is not offered for a new treatment, and a killed recorder's
// treatment is offered on start-up and, on Yes, followed live to the end.
#include <gtest/gtest.h>

#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"

#include "database/Datamodule.h"
#include "livecontrol/Selservicedlg.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTabWidget>

#include <csignal>

namespace {

class Recorder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SimulatorBuilt())
            GTEST_SKIP() << "braskon-sim is not built";
        ASSERT_EQ(Cli({"battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"}).trimmed(), "1");
    }

    // braskon-cli on the database, until its end or until `waitFor` appears `times`; its output.
    QString Cli(const QStringList& args, const QString& waitFor = QString(), int times = 1)
    {
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(QStringLiteral(BRASKON_CLI_PATH), QStringList{"--database", database} + args);
        EXPECT_TRUE(cli.waitForStarted(5000));
        QString output;
        if (waitFor.isEmpty())
            cli.waitForFinished(20000);
        WaitFor(
            [&] {
                output += QString::fromUtf8(cli.readAll());
                return output.count(waitFor) >= times || cli.state() != QProcess::Running;
            },
            20000);
        return output;
    }

    void KillCli()
    {
        ::kill(static_cast<pid_t>(cli.processId()), SIGKILL);
        ASSERT_TRUE(cli.waitForFinished(10000));
    }

    QTemporaryDir dir;
    const QString database = dir.path() + QStringLiteral("/database");
    QProcess cli;
};

// The terminals "Service > Starten..." offers after the search (then cancelled).
QString OfferedTerminals(TMainForm& form)
{
    ModalDriver driver;
    QStringList offered;
    driver.OnDialog([&offered](QDialog* dialog) {
        auto* select = qobject_cast<TSelectServiceDialog*>(dialog);
        if (select && select->IsSearching())
            return false;
        for (int i = 0; select && i < Part<QComboBox>(*select, "TerminalCombo")->count(); ++i)
            offered << Part<QComboBox>(*select, "TerminalCombo")->itemText(i);
        dialog->reject();
        return true;
    });
    form.CommandAction(Command::StartService)->trigger();
    EXPECT_TRUE(driver.AllHandled() && driver.Report().isEmpty()) << driver.Report().toStdString();
    return offered.join(", ");
}

} // namespace

TEST_F(Recorder, TerminalRecordedByAnotherProcessIsNotOffered)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--port", "2=tesk", "--soc", "40"});
    simulator.start();
    // A slow tick keeps the recorder's exchanges few while the dialog searches.
    const QString output = Cli({"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "1", "--charge",
                                "30", "--discharge", "30", "--tick-ms", "3000"},
                               "Laden");
    ASSERT_EQ(QProcess::Running, cli.state()) << output.toStdString();

    TBraskon program(database, (dir.path() + QStringLiteral("/log.txt")).toStdString());
    program.MainForm().show();
    ASSERT_EQ(1, program.DataModule().RunningTreatments().size());
    EXPECT_EQ("Tesk an COM2", OfferedTerminals(program.MainForm()).toStdString());
    // Once the recorder is gone its terminal is free again.
    KillCli();
    EXPECT_EQ("Lumo an COM1, Tesk an COM2", OfferedTerminals(program.MainForm()).toStdString());
}

TEST_F(Recorder, InterruptedTreatmentIsOfferedAndFollowedToTheEnd)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    simulator.start();
    const QString running = Cli({"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "3", "--charge",
                                 "30", "--discharge", "30", "--tick-ms", "50"},
                                " mAh  Entladen", 3);
    ASSERT_TRUE(running.contains(" mAh  Entladen")) << running.toStdString();
    KillCli();

    // The question is answered Yes as soon as it shows.
    QStringList questions;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            questions << box->text();
            box->button(box->text().endsWith("Fortsetzen?") ? QMessageBox::Yes : QMessageBox::Ok)->click();
        }
    });
    answer.start(20);

    TBraskon program(database, (dir.path() + QStringLiteral("/log.txt")).toStdString());
    TMainForm& form = program.MainForm();
    TTreatmentEngine& engine = program.Engine();
    Part<QTimer>(form, "TheTimer")->setInterval(50);
    form.show();
    ASSERT_TRUE(WaitFor([&] { return engine.FindService(1) != nullptr; }, 20000)) << questions.join('\n').toStdString();
    EXPECT_EQ(QStringList{"Die Behandlung von Akku 1 an Lumo an COM1 wurde unterbrochen. Fortsetzen?"}, questions);
    EXPECT_EQ(1, Part<QTabWidget>(form, "AccuTab")->count()) << "a live page as for a start";
    TBRASKDataModule& db = program.DataModule();
    EXPECT_TRUE(db.StateOf(1) == TBRASKDataModule::RecordingState::Running);

    simulator.control("set-speed 6000");
    ASSERT_TRUE(WaitFor([&] { return engine.FindService(1) && engine.FindService(1)->State == Service::Ended; },
                             60000));
    StepRecord first{1, 1}, second{1, 2};
    ASSERT_TRUE(db.GetSubService(first) && db.GetSubService(second));
    EXPECT_EQ(std::make_pair(int(OK), int(OK)), std::make_pair(int(first.State), int(second.State)));
    db.SelectSamples(1);
    int previous = -1;
    for (bool more = db.FirstSample(); more; more = db.NextSample()) {
        Sample sample;
        db.GetSample(sample);
        EXPECT_GE(sample.Time, previous);
        previous = sample.Time;
    }
    EXPECT_TRUE(db.RunningTreatments().isEmpty());
    EXPECT_EQ(1, questions.size()) << questions.join('\n').toStdString();
}

// braskon-cli run --on-end: the command runs at the end with the facts, also
// at an end by a signal; its failure is told and the exit status stays the
// treatment's.
TEST_F(Recorder, EndCommandOfTheCommandLineRunsWithTheFacts)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "6000", "--soc", "10"});
    simulator.start();
    const QString facts = dir.filePath("facts.txt");
    const QString record = QStringLiteral("env | grep ^BRASKON_ | sort > '%1'; exit 3").arg(facts);
    const QString output = Cli({"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "2", "--charge",
                                "300", "--discharge", "300", "--tick-ms", "50", "--on-end", record});
    EXPECT_EQ(cli.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("der Befehl von --on-end endete mit Status 3")) << output.toStdString();
    QFile file(facts);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << output.toStdString();
    const QString environment = QString::fromUtf8(file.readAll());
    for (const char *line : {"BRASKON_RESULT=OK\n", "BRASKON_BATTERY_ID=1\n", "BRASKON_SERVICE_ID=1\n",
                             "BRASKON_PROGRAM=Entladen\n", "BRASKON_TERMINAL=Lumo an COM1\n",
                             "BRASKON_NOMINAL_MAH=300\n", "BRASKON_STEPS=1 Entladen OK "})
        EXPECT_TRUE(environment.contains(line)) << line << "in\n" << environment.toStdString();

    // Stopped by SIGTERM: "abgebrochen", and the program waits for the command
    // (it tells the command's exit status, which only its end gives).
    file.remove();
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(QStringLiteral(BRASKON_CLI_PATH),
              {"--database", database, "run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "1",
               "--charge", "30", "--discharge", "30", "--tick-ms", "50", "--on-end",
               QStringLiteral("echo \"$BRASKON_RESULT\" > '%1'; exit 4").arg(facts)});
    QString running;
    ASSERT_TRUE(WaitFor([&] { return (running += QString::fromUtf8(cli.readAll())).contains(" mAh  Laden"); }, 20000))
        << running.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    ASSERT_TRUE(cli.waitForFinished(20000));
    EXPECT_EQ(cli.exitCode(), 128 + SIGTERM);
    running += QString::fromUtf8(cli.readAll());
    EXPECT_TRUE(running.contains("der Befehl von --on-end endete mit Status 4")) << running.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "abgebrochen\n");
}

// The question's other two answers: "ask again" sends nothing and leaves the
// treatment interrupted; at the next start "stop the charger" stops it on the
// wire and closes the record at its last stored sample.
TEST_F(Recorder, InterruptedTreatmentAskedAgainLaterThenStopped)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    simulator.start();
    Cli({"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "3", "--charge", "30", "--discharge",
         "30", "--tick-ms", "50"},
        " mAh  Entladen", 3);
    KillCli();
    for (const QMessageBox::StandardButton choice : {QMessageBox::Cancel, QMessageBox::No}) {
        SCOPED_TRACE(int(choice));
        const size_t mark = simulator.trace().size();
        QStringList buttons;
        QString told;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (!box->text().endsWith("Fortsetzen?")) {
                told = box->text();
                box->button(QMessageBox::Ok)->click();
                return;
            }
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            box->button(choice)->click();
        });
        answer.start(20);
        TBraskon program(database, (dir.path() + QStringLiteral("/log.txt")).toStdString());
        program.MainForm().show();
        ASSERT_TRUE(WaitFor([&] { return !buttons.isEmpty(); }, 20000));
        buttons.sort();   // in the order of the platform's style
        EXPECT_EQ(QStringList({QStringLiteral("Beim n\u00e4chsten Start fragen"), QStringLiteral("Fortsetzen"),
                               QStringLiteral("Ladeger\u00e4t stoppen und abschlie\u00dfen")}),
                  buttons)
            << buttons.join('|').toStdString();
        TBRASKDataModule& db = program.DataModule();
        if (choice == QMessageBox::Cancel) {
            // Nothing asked or sent, nothing closed.
            QCoreApplication::processEvents();
            EXPECT_EQ(mark, simulator.trace().size());
            EXPECT_TRUE(db.StateOf(1) == TBRASKDataModule::RecordingState::Interrupted);
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }, 20000));
        EXPECT_TRUE(told.contains("Das Ladeger\u00e4t ist gestoppt")) << told.toStdString();
        EXPECT_GE(simulator.waitForTrace("COM1 rx 13 tx 13 00", std::chrono::seconds(0), mark), 0);
        EXPECT_TRUE(db.StateOf(1) == TBRASKDataModule::RecordingState::Ended);
        StepRecord first{1, 1};
        ASSERT_TRUE(db.GetSubService(first));
        Sample last;
        ASSERT_TRUE(db.Reader().LastSample(1, last));
        EXPECT_EQ(std::make_pair(int(Abgebrochen), last.Time), std::make_pair(int(first.State), first.Duration));
    }
}
