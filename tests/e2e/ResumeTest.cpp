// The program comes up over a treatment whose recorder was killed: it asks
// whether to go on, and on Yes follows the charger live to the end.
#include <gtest/gtest.h>

#include "ProgramDriver.h"
#include "SimulatorProcess.h"

#include "database/Datamodule.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

namespace {

// Runs braskon-cli on the database to its end (or kills it once `killAfter`
// appears in its output); returns the output.
QString Cli(const QString &database, const QStringList &args, const QString &killAfter = QString())
{
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(QStringLiteral(BRASKON_CLI_PATH), QStringList{"--database", database} + args);
    EXPECT_TRUE(cli.waitForStarted(5000));
    QString output;
    if (!killAfter.isEmpty()) {
        E2e::WaitFor(
            [&] {
                output += QString::fromUtf8(cli.readAll());
                return output.count(killAfter) >= 3 || cli.state() != QProcess::Running;
            },
            20000);
        if (cli.state() == QProcess::Running && cli.processId() > 0)
            ::kill(static_cast<pid_t>(cli.processId()), SIGKILL);
    }
    cli.waitForFinished(20000);
    return output + QString::fromUtf8(cli.readAll());
}

} // namespace

TEST(Resume, InterruptedTreatmentIsOfferedAndFollowedToTheEnd)
{
    if (!QFileInfo::exists(QString::fromStdString(SimTest::SimulatorProcess::simulatorPath())))
        GTEST_SKIP() << "braskon-sim is not built";
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "100", "--soc", "40"});
    simulator.start();
    QTemporaryDir dir;
    const QString database = dir.path() + QStringLiteral("/database");
    ASSERT_EQ(QStringLiteral("1"), Cli(database, {"battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"}).trimmed());
    const QString killed = Cli(database,
                               {"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "3", "--charge",
                                "30", "--discharge", "30", "--tick-ms", "50"},
                               QStringLiteral(" mAh  Entladen"));
    ASSERT_TRUE(killed.contains(" mAh  Entladen")) << killed.toStdString();

    // The question is answered Yes as soon as it shows.
    QStringList questions;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        questions << box->text();
        box->button(box->text().endsWith("Fortsetzen?") ? QMessageBox::Yes : QMessageBox::Ok)->click();
    });
    answer.start(20);

    TBraskon program(database, (dir.path() + QStringLiteral("/log.txt")).toStdString());
    TMainForm &form = program.MainForm();
    TTreatmentEngine &engine = program.Engine();
    form.TheTimer->setInterval(50);
    form.show();
    ASSERT_TRUE(E2e::WaitFor([&] { return engine.FindService(1) != nullptr; }, 20000)) << questions.join('\n').toStdString();
    EXPECT_EQ(QStringList{"Die Behandlung von Akku 1 an Lumo an COM1 wurde unterbrochen. Fortsetzen?"}, questions);
    EXPECT_EQ(1, form.AccuTab->count()) << "a live page as for a start";
    EXPECT_TRUE(program.DataModule().StateOf(1) == TBRASKDataModule::RecordingState::Running);

    simulator.control("set-speed 6000");
    ASSERT_TRUE(E2e::WaitFor([&] { return engine.FindService(1) && engine.FindService(1)->State == Service::Ended; },
                             60000));
    TBRASKDataModule &db = program.DataModule();
    for (int step = 1; step <= 2; ++step) {
        StepRecord record;
        record.ServiceID = 1;
        record.Step = step;
        ASSERT_TRUE(db.GetSubService(record));
        EXPECT_EQ(OK, record.State) << "step " << step;
    }
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
