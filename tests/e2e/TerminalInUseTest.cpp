// The treatment selection dialog leaves out a terminal on which another
// process of this machine is recording (here braskon-cli), and offers it again
// once that recorder is gone.
#include <gtest/gtest.h>

#include "ProgramDriver.h"
#include "SimulatorProcess.h"

#include "database/Datamodule.h"
#include "livecontrol/Selservicedlg.h"
#include "mainwindow/Mainform.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

QString CliOnce(const QString &database, const QStringList &args)
{
    QProcess cli;
    cli.start(QStringLiteral(BRASKON_CLI_PATH), QStringList{"--database", database} + args);
    cli.waitForFinished(20000);
    return QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
}

// "Service > Starten..." and the terminals its list offers after the search;
// the dialog is then cancelled.
QStringList OfferedTerminals(TMainForm &form)
{
    E2e::ModalDriver driver;
    QStringList offered;
    driver.OnDialog([&offered](QDialog *dialog) {
        auto *select = qobject_cast<TSelectServiceDialog *>(dialog);
        if (select && select->IsSearching())
            return false;
        for (int i = 0; select && i < select->TerminalCombo->count(); ++i)
            offered << select->TerminalCombo->itemText(i);
        dialog->reject();
        return true;
    });
    form.MenuStartService->trigger();
    EXPECT_TRUE(driver.AllHandled() && driver.unexpected.isEmpty()) << driver.unexpected.join("; ").toStdString();
    return offered;
}

} // namespace

TEST(TerminalInUse, TerminalRecordedByAnotherProcessIsNotOffered)
{
    if (!QFileInfo::exists(QString::fromStdString(SimTest::SimulatorProcess::simulatorPath())))
        GTEST_SKIP() << "braskon-sim is not built";
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--port", "2=tesk", "--soc", "40"});
    simulator.start();
    QTemporaryDir dir;
    const QString database = dir.path() + QStringLiteral("/database");
    ASSERT_EQ(QStringLiteral("1"), CliOnce(database, {"battery", "add", "--capacity", "300", "--type", "NMH", "--cells", "4"}));

    // A slow tick keeps the recorder's exchanges few while the dialog searches.
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::MergedChannels);
    recorder.start(QStringLiteral(BRASKON_CLI_PATH),
                   {"--database", database, "run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "1",
                    "--charge", "30", "--discharge", "30", "--tick-ms", "3000"});
    ASSERT_TRUE(recorder.waitForStarted(5000));
    QString output;
    ASSERT_TRUE(E2e::WaitFor(
        [&] {
            output += QString::fromUtf8(recorder.readAll());
            return output.contains(QStringLiteral("Laden")) || recorder.state() != QProcess::Running;
        },
        20000))
        << output.toStdString();
    ASSERT_EQ(QProcess::Running, recorder.state()) << output.toStdString();

    TBraskon program(database, (dir.path() + QStringLiteral("/log.txt")).toStdString());
    TMainForm &form = program.MainForm();
    form.show();
    ASSERT_EQ(1, program.DataModule().RunningTreatments().size());

    const QStringList whileRecorded = OfferedTerminals(form);
    EXPECT_EQ("Tesk an COM2", whileRecorded.join(", ").toStdString());

    // Once the recorder is gone, its terminal is free again (the treatment
    // counts as interrupted).
    ::kill(static_cast<pid_t>(recorder.processId()), SIGKILL);
    ASSERT_TRUE(recorder.waitForFinished(10000));
    const QStringList afterwards = OfferedTerminals(form);
    EXPECT_EQ("Lumo an COM1, Tesk an COM2", afterwards.join(", ").toStdString());
}
