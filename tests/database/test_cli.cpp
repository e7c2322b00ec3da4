#include "TestDatabase.h"

using Cli = DatabaseTest;

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
    const QStringList lines = run({"battery", "list"}).out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "1\t1900\tNMH\t6\tMignon\t7" + QLocale::system().decimalPoint() + "2\tEneloop");
    EXPECT_EQ(lines[2], "20\t7000\tBlei\t3\t\t6\t");

    // A treatment with steps and samples of battery 20, deleted through the CLI.
    const QString service = QString::number(addService(20, 1, 1, 1));
    module_.reset();
    EXPECT_EQ(run({"service", "delete", service}).status, 0);
    EXPECT_EQ(scalar("SELECT (SELECT COUNT(*) FROM services) + (SELECT COUNT(*) FROM sub)"
                     " + (SELECT COUNT(*) FROM samples)"),
              0);
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
        {"battery", "delete", "77"},                                                             // unknown IDs
        {"battery", "delete", "x"},
        {"service", "delete", "3"},
    };
    for (const QStringList &args : bad) {
        const CliRun result = run(args);
        EXPECT_NE(result.status, 0) << args.join(' ').toStdString();
        EXPECT_TRUE(result.err.count('\n') == 1 && result.out.isEmpty()) << result.err.toStdString();
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 1);
    EXPECT_EQ(scalar("SELECT NextID FROM nextid WHERE TableName = 'batteries'"), 1);
}

TEST_F(Cli, SamplesAsCsvWithHeaderDotDecimalsAndCapacityPerStep)
{
    addBattery(20);
    const int service = addService(20, 1, 2, 0);
    // Step 1 discharging at 500 mA for an hour, then step 2; a sample of a
    // step without a row keeps its place with an empty function.
    module().InsertSamples({{service, 1, 0, 1365, 500, 0}, {service, 1, 1800, 1250, 500, 0},
                            {service, 1, 3600, 1001, 500, 0}, {service, 2, 3600, 1200, -200, 0},
                            {service, 2, 5400, 1420, -200, 0}, {service, 7, 5500, 1430, 0, 0}});
    module_.reset();
    const QString expected = QStringLiteral(
        "Zeit [s],Schritt,Funktion,Spannung [V],Strom [A],Kapazit\u00e4t [mAh]\r\n"
        "0,1,Laden,1.365,0.5,0\r\n"
        "1800,1,Laden,1.25,0.5,250\r\n"
        "3600,1,Laden,1.001,0.5,500\r\n"
        "3600,2,Entladen,1.2,-0.2,0\r\n"
        "5400,2,Entladen,1.42,-0.2,100\r\n"
        "5500,7,,1.43,0,0\r\n");
    QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
    german.insert("LC_ALL", "de_DE.UTF-8");
    const CliRun printed = RunCli({"--database", dir(), "export", "samples", "--service", QString::number(service)}, german);
    EXPECT_EQ(printed.status, 0) << printed.err.toStdString();
    EXPECT_EQ(printed.out, expected);   // -o shares the writer of every export command
    const CliRun missing = run({"export", "samples", "--service", "999"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("Aufzeichnung 999 gibt es nicht")) << missing.err.toStdString();
}
