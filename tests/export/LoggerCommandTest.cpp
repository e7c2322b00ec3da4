// braskon-cli logger: the same readout with a progress bar and exit codes.

#include "KestrixFixture.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

namespace {

struct LoggerRun {
    int exitCode = -1;
    QString out, err;
};

class LoggerCommand : public KestrixFixture {
protected:
    // The command opens the database itself.
    void StartProcess(QProcess &process, int batteryID, const QStringList &extra = {})
    {
        db.data.reset();
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.start(QStringLiteral(BRASKON_CLI_PATH),
                      QStringList{QStringLiteral("--database"), db.directory.path(), QStringLiteral("logger"),
                                  QStringLiteral("--battery"), QString::number(batteryID)}
                          + extra);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    LoggerRun Run(int batteryID, const QStringList &extra = {})
    {
        QProcess process;
        StartProcess(process, batteryID, extra);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
};

} // namespace

TEST_F(LoggerCommand, CompletedTransferExitsZero)
{
    StartLogger(RecordingFile::WithCounts({121, 61}));
    const LoggerRun run = Run(battery, {QStringLiteral("--min-delta-u"), QStringLiteral("0")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("Initialisierung...\n")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("182/182")));
    EXPECT_EQ(run.out, QStringLiteral("Aufzeichnung 1: 182 von 182 Werten\n"));

    db.data = std::make_unique<TBRASKDataModule>(db.directory.path());
    EXPECT_EQ(Samples(1).size(), 182u);
}

TEST_F(LoggerCommand, MismatchEmptyAndMissingLoggerFail)
{
    RecordingFile recording = RecordingFile::WithCounts({121, 61});
    recording.capacity = 1100;
    StartLogger(recording, 1000);
    const QString empty = db.directory.filePath(QStringLiteral("empty.txt"));
    RecordingFile().Write(empty);
    // What is done to the logger before the run, and the message expected.
    const QList<std::pair<std::string, QString>> cases = {
        {"", QStringLiteral("Aufzeichnung paßt nicht zum ausgewählten Akku!")},
        {"load-kestrix 2 " + empty.toStdString(), QStringLiteral("KESTRIX ist leer!")},
        {"unplug 2", QStringLiteral("KESTRIX nicht angeschlossen oder nicht bereit zum Auslesen!")},
    };
    for (const auto &[control, message] : cases) {
        if (!control.empty())
            sim->control(control);
        const LoggerRun run = Run(battery);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
    }
    EXPECT_EQ(Run(42).exitCode, 1);   // no such battery
    EXPECT_NE(Run(0).exitCode, 0);
}

TEST_F(LoggerCommand, CtrlCCancelsAndKeepsWhatWasRead)
{
    StartLogger(RecordingFile::WithCounts({250, 250, 250, 250}));
    QProcess process;
    StartProcess(process, battery);
    QString err;
    ASSERT_TRUE(WaitFor([&] {
        err += QString::fromUtf8(process.readAllStandardError());
        return err.contains(QStringLiteral("10/1000"));
    }));
    sim->control("fault 2 silent");   // one time-out per value from now on
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains(QStringLiteral("(abgebrochen)")));
}


TEST_F(LoggerCommand, UnpluggedLoggerFailsAndNamesTheCount)
{
    StartLogger(RecordingFile::WithCounts({250, 250, 250, 250}));
    QProcess process;
    StartProcess(process, battery, {QStringLiteral("--min-delta-u"), QStringLiteral("0")});
    QString err;
    ASSERT_TRUE(WaitFor([&] {
        err += QString::fromUtf8(process.readAllStandardError());
        return err.contains(QStringLiteral("10/1000"));
    }));
    sim->control("unplug 2");
    ASSERT_TRUE(process.waitForFinished(30000));
    err += QString::fromUtf8(process.readAllStandardError());
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(process.exitCode(), 1);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^Aufzeichnung 1: (\\d+) von 1000 Werten \\(fehlgeschlagen\\)\n$")).match(out);
    ASSERT_TRUE(match.hasMatch()) << out.toStdString();
    const int read = match.captured(1).toInt();
    EXPECT_TRUE(err.contains(QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen nach %1 von 1000 Werten abgebrochen!")
                                 .arg(read)))
        << err.toStdString();
    db.data = std::make_unique<TBRASKDataModule>(db.directory.path());
    EXPECT_EQ(int(Samples(1).size()), read);
}
