// braskon-cli logger: the same readout with a progress bar and exit codes.

#include "tests/support/KestrixFixture.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <tuple>

namespace {

class LoggerCommand : public KestrixFixture {
protected:
    // The command opens the database itself.
    void Start(QProcess &process, int batteryID, const QStringList &extra = {})
    {
        db.data.reset();
        process.start(QStringLiteral(BRASKON_CLI), QStringList{"--database", db.directory.path(), "logger",
                                                                    "--battery", QString::number(batteryID)} + extra);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // Exit code and standard error of a whole run.
    std::pair<int, QString> Run(int batteryID, const QStringList &extra = {})
    {
        QProcess process;
        Start(process, batteryID, extra);
        EXPECT_TRUE(process.waitForFinished(30000));
        out = QString::fromUtf8(process.readAllStandardOutput());
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    }

    std::vector<Sample> StoredSamples(int serviceID = 1)
    {
        db.data = std::make_unique<TBRASKDataModule>(db.directory.path());
        return Samples(serviceID);
    }

    QString out;
};

} // namespace

// A whole transfer exits 0; a mismatch, an empty or missing logger and an
// unknown battery exit 1 and store nothing.
TEST_F(LoggerCommand, CompletedTransferExitsZeroRefusedOnesOneAndStoreNothing)
{
    StartLogger(Phases({121, 61}));
    const auto [exitCode, err] = Run(battery, {"--min-delta-u", "0"});
    EXPECT_EQ(exitCode, 0) << err.toStdString();
    EXPECT_TRUE(err.startsWith(QStringLiteral("Initialisierung...\n")) && err.contains(QStringLiteral("182/182")));
    EXPECT_EQ(out, QStringLiteral("Aufzeichnung 1: 182 von 182 Werten\n"));
    EXPECT_EQ(StoredSamples().size(), 182u);

    const int other = db.AddBattery(2, 1100);
    const QString empty = db.directory.filePath(QStringLiteral("empty.txt"));
    WriteRecording(empty, {});
    const std::tuple<int, std::string, QString> refusals[] = {
        {other, "", QStringLiteral("Aufzeichnung paßt nicht zum ausgewählten Akku!")},
        {battery, "load-kestrix 2 " + empty.toStdString(), QStringLiteral("KESTRIX ist leer!")},
        {42, "", QString()},
        {battery, "unplug 2", QStringLiteral("KESTRIX nicht angeschlossen")}};
    for (const auto &[id, logger, message] : refusals) {
        if (!logger.empty())
            sim->control(logger);
        const auto [refusedCode, refusedErr] = Run(id);
        EXPECT_EQ(refusedCode, 1);
        EXPECT_TRUE(refusedErr.contains(message)) << refusedErr.toStdString();
    }
    EXPECT_NE(Run(0).first, 0);
    db.data = std::make_unique<TBRASKDataModule>(db.directory.path());
    EXPECT_EQ(ServiceCount(battery), 1);
    EXPECT_EQ(ServiceCount(other), 0);
}

// Ctrl+C cancels (exit 0), an unplugged logger fails (exit 1) naming the
// count; either keeps exactly the values read.
TEST_F(LoggerCommand, CtrlCAndUnpluggedLoggerKeepWhatWasRead)
{
    StartLogger(Phases({250, 250, 250, 250}));
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged" : "Ctrl+C");
        sim->control("plug 2");
        sim->control("clear 2");
        QProcess process;
        Start(process, battery, {"--min-delta-u", "0"});
        QString err;
        ASSERT_TRUE(WaitFor([&] {
            err += QString::fromUtf8(process.readAllStandardError());
            return err.contains(QStringLiteral("10/1000"));
        }));
        if (unplug) {
            sim->control("unplug 2");
        } else {
            sim->control("fault 2 silent");   // one time-out per value from now on
            ::kill(pid_t(process.processId()), SIGINT);
        }
        ASSERT_TRUE(process.waitForFinished(30000));
        err += QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), unplug ? 1 : 0);
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Aufzeichnung (\\d+): (\\d+) von 1000 Werten \\(%1\\)\n$")
                                   .arg(unplug ? "fehlgeschlagen" : "abgebrochen"))
                .match(output);
        ASSERT_TRUE(match.hasMatch()) << output.toStdString();
        const int read = match.captured(2).toInt();
        if (unplug) {
            EXPECT_TRUE(err.contains(
                QStringLiteral("KESTRIX an COM2 antwortet nicht mehr: Auslesen nach %1 von 1000 Werten abgebrochen!").arg(read)))
                << err.toStdString();
        }
        EXPECT_EQ(int(StoredSamples(match.captured(1).toInt()).size()), read);
    }
}
