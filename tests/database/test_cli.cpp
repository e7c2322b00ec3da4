#include "TestDatabase.h"

#include "BraskonVersion.h"

#include <QSettings>

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

TEST_F(Cli, HelpAndVersionOnStandardOutputBadCallsInGermanWithStatusTwo)
{
    struct Case {
        QStringList args;
        int status;
        QString out;   // what standard output starts with, empty: nothing
        QString err;   // what standard error contains
    } cases[] = {
        {{"--help"}, 0, "Aufruf: braskon-cli [OPTIONEN] BEFEHL", ""},
        {{"--version"}, 0, "braskon-cli " BRASKON_VERSION "\n", ""},
        {{"--frobnicate"}, 2, "", "(braskon-cli --help zeigt die Hilfe)"},
        {{"frobnicate"}, 2, "", "unbekannter Befehl \u201efrobnicate\u201c"},
        {{"--port", "COM0=/dev/ttyUSB0", "ports"}, 2, "", "--port erwartet COMn=GER\u00c4T"},
        {{"export", "samples", "--service"}, 2, "", "Aufruf: braskon-cli export samples"},
    };
    for (const Case &c : cases) {
        const CliRun result = RunCli(c.args);
        const std::string call = c.args.join(' ').toStdString();
        EXPECT_EQ(result.status, c.status) << call << ": " << result.err.toStdString();
        EXPECT_TRUE(c.out.isEmpty() ? result.out.isEmpty() : result.out.startsWith(c.out))
            << call << ": " << result.out.toStdString();
        EXPECT_TRUE(result.err.contains(c.err)) << call << ": " << result.err.toStdString();
    }
}

TEST_F(Cli, PortsShowTheDeviceOfEachComAndWhereItComesFrom)
{
    QTemporaryDir config;
    {
        QSettings settings(config.filePath("braskon/braskon.conf"), QSettings::IniFormat);
        settings.setValue("ports/COM4", "/dev/zero");
        settings.setValue("ports/COM2", "/dev/from-settings");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (int n = 1; n <= 9; ++n)
        environment.remove(QStringLiteral("BRASKON_COM%1").arg(n));
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("BRASKON_COM1", "/dev/null");
    environment.insert("BRASKON_COM3", "/nonexistent/com3");
    // --port wins over the environment and over the settings.
    const CliRun result = RunCli({"--port", "com3=/dev/zero", "--port", "2=/dev/null", "ports"}, environment);
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QStringList lines = result.out.split('\n');
    ASSERT_GE(lines.size(), 12) << result.out.toStdString();
    EXPECT_EQ(lines.mid(0, 5), QStringList({"Zuordnung:", "COM1\t/dev/null\tUmgebung (BRASKON_COM1)\tbereit",
                                            "COM2\t/dev/null\tUmgebung (BRASKON_COM2)\tbereit",
                                            "COM3\t/dev/zero\tUmgebung (BRASKON_COM3)\tbereit",
                                            "COM4\t/dev/zero\tzugeordnet\tbereit"}));
    EXPECT_TRUE(lines[5].startsWith("COM5\t/dev/ttyS4\tStandard\t")) << lines[5].toStdString();
    EXPECT_EQ(lines[11], "Serielle Ger\u00e4te:");
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
    EXPECT_EQ(printed.out, expected);

    const QString file = temp_.filePath("werte.csv");
    EXPECT_EQ(run({"export", "samples", "--service", QString::number(service), "-o", file}).status, 0);
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(written.readAll()), expected);
    const CliRun missing = run({"export", "samples", "--service", "999"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("Aufzeichnung 999 gibt es nicht")) << missing.err.toStdString();
}
