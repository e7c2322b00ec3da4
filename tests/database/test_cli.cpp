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
    // Without --id the counter's proposal is taken; a typed ID leaves it alone.
    const QList<std::pair<QStringList, QString>> additions = {
        {{"--capacity", "1900", "--type", "NMH", "--cells", "6", "--form", "4", "--brand", "Eneloop"}, "1"},
        {{"--id", "20", "--capacity", "7000", "--type", "Blei", "--cells", "3"}, "20"},
        {{"--capacity", "500", "--type", "NC", "--cells", "1"}, "2"},
    };
    for (const auto &[options, id] : additions) {
        const CliRun added = run(QStringList{"battery", "add"} + options);
        EXPECT_EQ(added.status, 0) << added.err.toStdString();
        EXPECT_EQ(added.out.trimmed(), id);
    }

    const CliRun listed = run({"battery", "list"});
    ASSERT_EQ(listed.status, 0);
    const QStringList lines = listed.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QString point = QLocale::system().decimalPoint();
    EXPECT_EQ(lines[0], "1\t1900\tNMH\t6\tMignon\t7" + point + "2\tEneloop");
    EXPECT_EQ(lines[2], "20\t7000\tBlei\t3\t\t6\t");

    // A treatment with steps and samples of battery 20, deleted through the CLI.
    const QString service = QString::number(addService(20, 1, 1, 1));
    module_.reset();
    CliRun deleted = run({"service", "delete", service});
    EXPECT_EQ(deleted.status, 0) << deleted.err.toStdString();
    EXPECT_EQ(scalar("SELECT (SELECT COUNT(*) FROM services) + (SELECT COUNT(*) FROM sub)"
                     " + (SELECT COUNT(*) FROM samples)"),
              0);
    deleted = run({"service", "delete", service});
    EXPECT_NE(deleted.status, 0);
    EXPECT_FALSE(deleted.err.isEmpty());

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

