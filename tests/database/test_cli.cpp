#include "TestDatabase.h"

#include <QProcess>

namespace {

struct CliRun {
    int status;
    QString out;
    QString err;
};

} // namespace

class Cli : public DatabaseTest {
protected:
    CliRun run(const QStringList &args)
    {
        QProcess process;
        process.start(QStringLiteral(BRASKON_CLI), QStringList{"--database", dir()} + args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
};

TEST_F(Cli, AddListDelete)
{
    CliRun added = run({"battery", "add", "--capacity", "1900", "--type", "NMH", "--cells", "6", "--form", "4",
                     "--brand", "Eneloop"});
    ASSERT_EQ(added.status, 0) << added.err.toStdString();
    EXPECT_EQ(added.out.trimmed(), "1");
    added = run({"battery", "add", "--id", "20", "--capacity", "7000", "--type", "Blei", "--cells", "3"});
    ASSERT_EQ(added.status, 0) << added.err.toStdString();
    EXPECT_EQ(added.out.trimmed(), "20");
    added = run({"battery", "add", "--capacity", "500", "--type", "NC", "--cells", "1"});
    EXPECT_EQ(added.out.trimmed(), "2");

    const CliRun listed = run({"battery", "list"});
    ASSERT_EQ(listed.status, 0);
    const QStringList lines = listed.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QString point = QLocale::system().decimalPoint();
    EXPECT_EQ(lines[0], "1\t1900\tNMH\t6\tMignon\t7" + point + "2\tEneloop");
    EXPECT_EQ(lines[2], "20\t7000\tBlei\t3\t\t6\t");

    // A treatment with steps and samples of battery 20, deleted through the CLI.
    {
        TBRASKDataModule &m = module();
        TBRASKDataModule::Service service;
        service.BatteryID = 20;
        m.InsertService(service);
        StepRecord step{service.ID, 1, 1, 700, 0, 0, 0, 0};
        m.InsertStep(step);
        m.InsertSample({service.ID, 1, 0, 6000, 700, 0});
        module_.reset();
        CliRun deleted = run({"service", "delete", QString::number(service.ID)});
        EXPECT_EQ(deleted.status, 0) << deleted.err.toStdString();
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM services") + scalar("SELECT COUNT(*) FROM sub") +
                      scalar("SELECT COUNT(*) FROM samples"),
                  0);
        deleted = run({"service", "delete", QString::number(service.ID)});
        EXPECT_NE(deleted.status, 0);
        EXPECT_FALSE(deleted.err.isEmpty());
    }

    EXPECT_EQ(run({"battery", "delete", "20"}).status, 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 2);
}

TEST_F(Cli, ErrorsStoreNothing)
{
    ASSERT_EQ(run({"battery", "add", "--id", "5", "--capacity", "100", "--type", "NC", "--cells", "2"}).status, 0);
    const QList<QStringList> bad = {
        {"battery", "add", "--id", "5", "--capacity", "100", "--type", "NC", "--cells", "2"},   // duplicate
        {"battery", "add", "--capacity", "viel", "--type", "NC", "--cells", "2"},                // not a number
        {"battery", "add", "--capacity", "100", "--type", "LiIon", "--cells", "2"},              // unknown type
        {"battery", "add", "--capacity", "100", "--type", "NC"},                                 // missing option
        {"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "2", "--form", "6"},  // form out of range
        {"battery", "delete", "77"},                                                             // unknown ID
        {"battery", "delete", "x"},
        {"service", "delete", "3"},
    };
    for (const QStringList &args : bad) {
        const CliRun result = run(args);
        EXPECT_NE(result.status, 0) << args.join(' ').toStdString();
        EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 1);
    EXPECT_EQ(scalar("SELECT NextID FROM nextid WHERE TableName = 'batteries'"), 1);
}

