#include "tests/support/TestDatabase.h"

#include <QSet>

#include <functional>
#include <memory>
#include <random>
#include <vector>

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

// Three programs adding batteries at the same moment, as three PCs on a lab
// database do: every add succeeds, and no ID is given twice.
TEST_F(Cli, ConcurrentAddsAllSucceedWithDistinctIDs)
{
    module();   // the database exists before the programs start
    constexpr int programs = 3, each = 15;
    QString script = QStringLiteral("for i in $(seq %1); do \"$0\" --database \"$1\" battery add --capacity 600 "
                                    "--type NMH --cells 4 || echo failed; done")
                         .arg(each);
    std::vector<std::unique_ptr<QProcess>> adders;
    for (int i = 0; i < programs; ++i) {
        adders.push_back(std::make_unique<QProcess>());
        adders.back()->setProcessChannelMode(QProcess::MergedChannels);
        adders.back()->start("sh", {"-c", script, QStringLiteral(BRASKON_CLI), dir()});
    }
    QStringList ids;
    for (const auto &adder : adders) {
        ASSERT_TRUE(adder->waitForFinished(120000));
        ids += QString::fromUtf8(adder->readAll()).split('\n', Qt::SkipEmptyParts);
    }
    const QSet<QString> distinct(ids.begin(), ids.end());
    EXPECT_EQ(ids.size(), programs * each) << ids.join(' ').toStdString();
    EXPECT_EQ(distinct.size(), programs * each) << ids.join(' ').toStdString();
    EXPECT_FALSE(distinct.contains("failed"));
    EXPECT_EQ(scalar("SELECT COUNT(DISTINCT F_ID) FROM batteries"), programs * each);
    EXPECT_EQ(scalar("SELECT NextID FROM nextid WHERE TableName = 'batteries'"), programs * each + 1);
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
        {"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "2", "--brand", "x\ty\nz"},  // not one line
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
    EXPECT_TRUE(run(bad[5]).err.contains("einen Tabulator"));

    // A description that came in another way still lists as one line, and
    // an export quotes it.
    const QString character = onServer() ? QStringLiteral("chr") : QStringLiteral("char");
    execute(QStringLiteral("UPDATE batteries SET F_Brand = 'x' || %1(9) || 'y' || %1(10) || 'z'").arg(character));
    EXPECT_EQ(run({"battery", "list"}).out, "5\t100\tNC\t2\t\t2" + QLocale::system().decimalPoint() + "4\tx y z\n");
    EXPECT_TRUE(run({"export", "batteries"}).out.contains("\t\"x\ty")) << run({"export", "batteries"}).out.toStdString();
}

TEST_F(Cli, SamplesAsCsvInBothFormsWithHeaderAndCapacityPerStep)
{
    addBattery(20);
    const int service = addService(20, 1, 2, 0);
    // Step 1 discharging at 500 mA for an hour, then step 2; a sample of a
    // step without a row keeps its place with an empty function.
    records().InsertSamples({{service, 1, 0, 1365, 500, 0}, {service, 1, 1800, 1250, 500, 0},
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

    // The German form, read back as a German spreadsheet reads it: UTF-8 after
    // the byte order mark, semicolons, decimal commas; the same values.
    const QTemporaryDir output;
    const QString file = output.filePath("werte.csv");
    const CliRun saved = run({"export", "samples", "--format", "deutsch", "--service", QString::number(service), "-o", file});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    QFile csvFile(file);
    ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = csvFile.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList rows = QString::fromUtf8(bytes.mid(3)).split("\r\n", Qt::SkipEmptyParts);
    const QStringList standardRows = expected.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), standardRows.size());
    EXPECT_EQ(rows[0], QString(standardRows[0]).replace(',', ';'));
    const QLocale spreadsheet(QLocale::German, QLocale::Germany);
    for (int row = 1; row < rows.size(); ++row) {
        const QStringList fields = rows[row].split(';');
        const QStringList standard = standardRows[row].split(',');
        ASSERT_EQ(fields.size(), 6) << rows[row].toStdString();
        EXPECT_EQ(fields[2], standard[2]);
        for (int column : {0, 1, 3, 4, 5}) {
            bool ok = false;
            EXPECT_EQ(spreadsheet.toDouble(fields[column], &ok), standard[column].toDouble()) << rows[row].toStdString();
            EXPECT_TRUE(ok) << fields[column].toStdString();
        }
    }
    EXPECT_TRUE(rows[1].contains("1,365"));
    for (const QStringList &wrong : {QStringList{"--format", "excel"}, QStringList{"--format"}}) {
        const CliRun refused = run(QStringList{"export", "samples", "--service", QString::number(service)} + wrong);
        EXPECT_EQ(refused.status, 2);
        EXPECT_TRUE(refused.err.contains("--format standard|deutsch")) << refused.err.toStdString();
    }
}

// A battery's life from its step rows: three treatments, the last one failed,
// printed as text and as CSV; the health and the trend from the discharges.
TEST_F(Cli, HistoryOfABatteryAsTextAndCsv)
{
    addBattery(20);   // 1000 mAh "Akku 20"
    addBattery(21);
    addTreatment(20, 3, "2026-01-10", {{Entladen, OK, 980}, {Laden, OK, 1150}});
    addTreatment(20, 5, "2026-04-20", {{Entladen, OK, 930}, {Laden, OK, 1100}, {Entladen, OK, 905}, {Laden, OK, 1080}});
    addTreatment(20, 2, "2026-07-29", {{Entladen, Fehler, 120}});
    addTreatment(21, 1, "2026-02-01", {{Laden, OK, 700}});   // another battery's: not listed
    module_.reset();

    const CliRun text = run({"battery", "history", "20"});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6) << text.out.toStdString();
    EXPECT_EQ(lines[0], "Akku 20 (Akku 20), 1000 mAh NMH, 3 Behandlungen");
    EXPECT_TRUE(lines[2].startsWith("2026-01-10")) << lines[2].toStdString();
    for (const char *figure : {"Entladen-Laden", "1150 mAh 115 %", "980 mAh 98 %", "OK"})
        EXPECT_TRUE(lines[2].contains(figure)) << figure << " in " << lines[2].toStdString();
    // The last discharge and charge of a program with two rounds count.
    EXPECT_TRUE(lines[3].contains("1080 mAh 108 %") && lines[3].contains("905 mAh 91 %")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].contains("Fehler") && !lines[4].contains("120")) << lines[4].toStdString();
    // 980 mAh on day 0, 905 on day 100: 75 mAh less per 100 days; health from the latest measured discharge.
    EXPECT_EQ(lines[5], "Zustand: 91 % der Nennkapazit\u00e4t, Trend -75 mAh je 100 Tage");

    const CliRun csv = run({"battery", "history", "20", "--format", "csv"});
    ASSERT_EQ(csv.status, 0) << csv.err.toStdString();
    const QStringList rows = csv.out.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4) << csv.out.toStdString();
    EXPECT_EQ(rows[0], "Datum,Uhrzeit,Aufzeichnung,Programm,Geladen_mAh,Geladen_Prozent,Entladen_mAh,"
                       "Entladen_Prozent,Ergebnis");
    EXPECT_TRUE(rows[1].startsWith("2026-01-10,"));
    EXPECT_TRUE(rows[1].endsWith(",1,Entladen-Laden,1150,115,980,98,OK")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].endsWith(",2,2x Entladen-Laden,1080,108,905,91,OK")) << rows[2].toStdString();
    EXPECT_TRUE(rows[3].endsWith(",3,Entladen,,,,,Fehler")) << rows[3].toStdString();

    // A battery without treatments, one that does not exist, and bad calls.
    EXPECT_TRUE(run({"battery", "history", "21", "--format", "text"}).out.contains("Zustand: - der Nennkapazit"));
    const CliRun missing = run({"battery", "history", "99"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("kein Akku mit der ID 99")) << missing.err.toStdString();
    EXPECT_EQ(run({"battery", "history", "20", "--format", "xml"}).status, 2);
    EXPECT_EQ(run({"battery", "history"}).status, 2);
}

namespace {

// braskon-cli in a home of its own: no settings, every port pointing nowhere
// (the machine's own serial ports take no part), standard output to `output`
// when given.
struct Home {
    QTemporaryDir dir;
    QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_STATE_HOME", dir.filePath("state"));
        env.remove("BRASKON_DATABASE");
        for (int port = 1; port <= 9; ++port)
            env.insert(QStringLiteral("BRASKON_COM%1").arg(port), QStringLiteral("/nonexistent/com%1").arg(port));
        return env;
    }
    CliRun run(const QStringList &args, const QString &output = QString())
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        if (!output.isEmpty())
            process.setStandardOutputFile(output);
        process.start(QStringLiteral(BRASKON_CLI), args);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }
};

} // namespace

// 0 success, 1 failure (a record not found, nothing found, output that could
// not be written), 2 a wrong call; a failure says why on the error output.
// Every command of --help has its cases here.
TEST_F(Cli, ExitStatusOfEveryCommand)
{
    addBattery(20);
    const QString service = QString::number(addService(20, 1, 1, 1));
    module_.reset();
    Home home;
    const QString db = dir(), full = QStringLiteral("/dev/full");
    const QString copy = home.dir.filePath("kopie");
    struct Case {
        QStringList args;
        int status;
        QString output;   // where standard output goes, empty: a pipe
    };
    const QList<Case> cases = {
        {{"--version"}, 0, {}}, {{"--help"}, 1, full}, {{"--gibtsnicht"}, 2, {}}, {{"gibtsnicht"}, 2, {}}, {{}, 2, {}},
        {{"ports"}, 0, {}}, {{"ports"}, 1, full}, {{"ports", "COM1"}, 2, {}},
        {{"scan"}, 1, {}}, {{"scan", "COM1"}, 2, {}},
        {{"battery", "list"}, 0, {}}, {{"battery", "list"}, 1, full}, {{"battery", "delete", "999"}, 1, {}},
        {{"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "0"}, 2, {}},
        {{"battery", "add", "--capacity", "0", "--type", "NC", "--cells", "4"}, 2, {}},
        {{"battery", "add", "--capacity", "100", "--type", "Li", "--cells", "4"}, 2, {}},
        {{"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "4", "--form", "6"}, 2, {}},
        {{"battery", "add", "--capacity", "70000", "--type", "NC", "--cells", "4"}, 2, {}},
        {{"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "4"}, 1, full},
        {{"battery"}, 2, {}},
        {{"service", "list"}, 0, {}}, {{"service", "list"}, 1, full}, {{"service", "delete", "999"}, 1, {}},
        {{"service", "list", "--battery", "999"}, 1, {}}, {{"service", "delete", "x"}, 2, {}},
        {{"run", "--battery", "999", "--terminal", "Lumo an COM1", "--program", "1", "--charge", "100", "--discharge",
          "100"},
         1, {}},
        {{"run", "--battery", "20"}, 2, {}},
        {{"logger", "--battery", "999"}, 1, {}}, {{"logger"}, 2, {}},
        {{"export", "label", "20"}, 0, {}}, {{"export", "label", "20"}, 1, full}, {{"export", "label", "999"}, 1, {}},
        {{"export", "steps", "999"}, 1, {}}, {{"export", "samples", "--service", "999"}, 1, {}},
        {{"export", "samples", "--service", service}, 1, full}, {{"export", "label", "x"}, 2, {}},
        {{"export", "batteries", "20"}, 2, {}},
        {{"db", "copy", db, copy}, 1, full}, {{"db", "copy", db, copy}, 1, {}},   // the target is no longer empty
        {{"db", "copy", home.dir.filePath("nichts"), copy}, 1, {}}, {{"db", "copy", db}, 2, {}},
    };
    QSet<QString> covered;
    for (const Case &c : cases) {
        const QStringList args = c.args.isEmpty() || c.args.first().startsWith('-') ? c.args
                                                                                    : QStringList{"--database", db} + c.args;
        const CliRun result = home.run(args, c.output);
        const std::string call = args.join(' ').toStdString() + (c.output.isEmpty() ? "" : " > " + c.output.toStdString());
        EXPECT_EQ(result.status, c.status) << call << "\n" << result.err.toStdString();
        const bool saysWhy = result.err.startsWith("braskon-cli") || result.err.startsWith("Aufruf:");
        EXPECT_TRUE(c.status == 0 || saysWhy) << call << ": " << result.err.toStdString();
        if (!c.args.isEmpty())
            covered << c.args.first();
    }
    // The commands --help lists, each with its cases above.
    const QString help = home.run({"--help"}).out;
    const QString commands = help.section(QStringLiteral("Befehle:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    for (const QString &line : commands.split('\n')) {
        const bool command = line.startsWith(QStringLiteral("  ")) && line.at(2).isLetter();
        EXPECT_TRUE(!command || covered.contains(line.mid(2).section(' ', 0, 0))) << line.toStdString();
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 2) << "the battery whose ID could not be printed is stored";
}

// A call the command cannot take names the word that is wrong, as typed, and
// stores nothing; a negative number is a value, never an option; "--name=VALUE"
// is "--name VALUE"; every command answers --help with its lines of the
// program's --help.
TEST_F(Cli, WrongCallsNameWhatIsWrong)
{
    module();   // the database exists, so that nothing but the call is wrong
    const QList<std::pair<QStringList, QString>> wrong = {
        {{"battery", "add", "--capacity", "100", "--type", "NC", "--cells", "2", "--farbe", "rot"},
         "braskon-cli battery add: unbekannte Angabe --farbe\n"},
        {{"battery", "add", "--capacity", "100", "--type", "NC", "--cells"}, "braskon-cli battery add: --cells ohne Wert\n"},
        {{"battery", "add", "7", "--capacity", "100", "--type", "NC", "--cells", "2"},
         "braskon-cli battery add: unbekannte Angabe 7\n"},
        {{"battery", "add", "--capacity", "-100", "--type", "NC", "--cells", "2"},
         "braskon-cli: --capacity -100 liegt nicht zwischen 1 und 65535\n"},
        {{"battery", "delete", "-5"}, "braskon-cli: ID -5 liegt nicht zwischen 1 und 2147483647\n"},
        {{"battery", "history", "1", "--format"}, "braskon-cli battery history: unerwartete Angabe --format\n"},
        {{"service", "list", "--battery", "1", "--battery", "2"}, "braskon-cli service list: \"--battery ID\" erwartet\n"},
        {{"run", "--battery", "1", "--terminal", "T", "--program", "1", "--charge", "1", "--discharge", "1", "--tick-ms",
          "10"},
         "braskon-cli run: --tick-ms 10 liegt nicht zwischen 50 und 3600000\n"},
        {{"run", "--battery", "1", "--terminal", "T", "--step", "L:100", "--stopp"},
         "braskon-cli run: unbekannte Angabe --stopp\n"},
        {{"run", "--resume"}, "braskon-cli run: --resume ohne Wert\n"},
        {{"logger", "--battery", "1", "--min-delta-u", "-1"}, "Aufruf: braskon-cli logger"},
        {{"export", "samples", "--service", "1", "--service", "2"}, "Aufruf: braskon-cli export samples"},
        {{"export", "label", "1", "-o"}, "Aufruf: braskon-cli export label"},
        {{"db", "copy", "a"}, "braskon-cli db: Aufruf: braskon-cli db copy"},
    };
    for (const auto &[args, message] : wrong) {
        const CliRun result = run(args);
        EXPECT_EQ(result.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith(message)) << args.join(' ').toStdString() << ": " << result.err.toStdString();
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM batteries"), 0);

    const CliRun added = run({"battery", "add", "--capacity=1900", "-type", "NMH", "--cells=6", "--brand", "--id"});
    ASSERT_EQ(added.status, 0) << added.err.toStdString();
    EXPECT_EQ(scalar("SELECT F_Capacity + F_Cells FROM batteries WHERE F_Brand = '--id'"), 1906);

    const QString programHelp = run({"--help"}).out;
    for (const QStringList &call : {QStringList{"battery", "add", "--help"}, QStringList{"battery", "-h"},
                                    QStringList{"run", "--battery", "1", "--help"}, QStringList{"export", "-h"},
                                    QStringList{"scan", "--help"}, QStringList{"db", "--help"}}) {
        const CliRun help = run(call);
        EXPECT_EQ(help.status, 0) << call.join(' ').toStdString();
        const QString block = help.out.section(QStringLiteral("Aufruf:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
        EXPECT_TRUE(block.startsWith("  " + call.first()) && programHelp.contains(block))
            << call.join(' ').toStdString() << ":\n" << help.out.toStdString();
    }
}

// ports names where each assignment comes from; --help names the files where
// they really are.
TEST_F(Cli, PortsAndHelpSayWhereThingsComeFrom)
{
    Home home;
    QDir().mkpath(home.dir.filePath("config/braskon"));
    QFile settings(home.dir.filePath("config/braskon/braskon.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[ports]\nCOM3=/dev/from-settings\nCOM4=/dev/hidden-by-environment\n");
    settings.close();
    QProcessEnvironment env = home.environment();
    for (int port : {3, 5})
        env.remove(QStringLiteral("BRASKON_COM%1").arg(port));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(BRASKON_CLI), {"--port", "COM1=/dev/typed", "ports"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
    QStringList origins;
    for (const QString &line : lines.mid(1, 5))
        origins << line.section('\t', 0, 2);
    EXPECT_EQ(origins, (QStringList{"COM1\t/dev/typed\tAufruf (--port)",
                                    "COM2\t/nonexistent/com2\tUmgebung (BRASKON_COM2)",
                                    "COM3\t/dev/from-settings\tEinstellungen",
                                    "COM4\t/nonexistent/com4\tUmgebung (BRASKON_COM4)", "COM5\t/dev/ttyS4\tStandard"}));

    const QString help = home.run({"--help"}).out;
    for (const char *file : {"config/braskon/braskon.conf", "state/braskon/log.txt"})
        EXPECT_TRUE(help.contains(home.dir.filePath(file))) << help.toStdString();
    EXPECT_FALSE(help.contains("~/.config") || help.contains("~/.local")) << help.toStdString();
}

// Every command on damaged copies of a database that holds a treatment: the
// command's work where the damage lies outside what it reads, else a message
// of its own and a failure status; never an abort.
TEST_F(Cli, DamagedFilesNeverAbortACommand)
{
    if (onServer())
        GTEST_SKIP() << "damage of the file";
    addBattery(1, 4);
    const int service = addService(1, 3, 2, 400);
    RunningTreatment running;
    running.ServiceID = service;
    running.Terminal = QStringLiteral("Lumo an COM1");
    records().RegisterRunning(running);
    module_.reset();
    records_.reset();
    execute("PRAGMA wal_checkpoint(TRUNCATE)");
    QFile file(this->file());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray intact = file.readAll();
    file.close();
    ASSERT_GT(intact.size(), 8 * 4096);

    std::mt19937 random(4711);
    const auto flips = [&random](QByteArray bytes) {
        for (int i = 0; i < 20; ++i)
            bytes[int(random() % unsigned(bytes.size()))] ^= char(1 << (random() % 8));
        return bytes;
    };
    const auto page = [](QByteArray bytes, int number, char fill) {
        return bytes.replace(number * 4096, 4096, QByteArray(4096, fill));
    };
    const int pages = int(intact.size() / 4096);
    const std::vector<std::pair<const char *, QByteArray>> files = {
        {"cut to 40 %", intact.left(intact.size() * 2 / 5)},
        {"cut in the first page", intact.left(1000)},
        {"empty", QByteArray()},
        {"bits flipped", flips(intact)},
        {"more bits flipped", flips(intact)},
        {"a page zeroed", page(intact, pages / 2, 0)},
        {"the last page zeroed", page(intact, pages - 1, 0)},
        {"a page of garbage", page(intact, pages / 3, '\x5a')},
        {"the header spoilt", QByteArray(intact).replace(0, 16, "not a database!")},
        {"the schema page spoilt", page(intact, 0, '\x33')},
    };
    // Damage the SQL can make: text where numbers belong, holes, no counters.
    const std::vector<std::pair<const char *, const char *>> statements = {
        {"text in numbers", "UPDATE services SET F_Program = 'x', F_Battery = 'y'; UPDATE sub SET F_Step = 'z' || F_Step"},
        {"holes", "UPDATE sub SET F_Duration = NULL, F_State = NULL, F_Function = NULL; UPDATE samples SET F_Time = NULL"},
        {"no counters", "DELETE FROM nextid"},
    };
    const QString copy = temp_.path() + QStringLiteral("/copy");
    const std::vector<QStringList> commands = {
        {"battery", "list"}, {"battery", "add", "--capacity", "1", "--type", "NC", "--cells", "1"},
        {"battery", "delete", "1"}, {"service", "list"}, {"service", "delete", "1"}, {"export", "label", "1"},
        {"export", "protocol", "1"}, {"export", "batteries"}, {"export", "services", "1"}, {"export", "steps", "1"},
        {"export", "samples", "--service", "1"}, {"run", "--resume", "1"}, {"run", "--resume", "1", "--stop"},
        {"run", "--battery", "1", "--terminal", "Lumo an COM1", "--program", "1", "--charge", "100", "--discharge", "100"},
        {"logger", "--battery", "1"}, {"db", "copy", dir(), copy}};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (int n = 1; n <= 9; ++n)   // no charger anywhere: the commands meet only the database
        environment.insert(QStringLiteral("BRASKON_COM%1").arg(n), QStringLiteral("/nonexistent/com%1").arg(n));

    const auto check = [&](const char *damage, const std::function<void()> &spoil) {
        for (const QStringList &command : commands) {
            QDir(dir()).removeRecursively();
            QDir(copy).removeRecursively();
            QDir().mkpath(dir());
            spoil();
            const CliRun result = RunCli(QStringList{"--database", dir()} + command, environment);
            const std::string where = std::string(damage) + ": " + command.join(' ').toStdString();
            EXPECT_FALSE(result.crashed) << where << "\n" << result.err.toStdString();
            EXPECT_FALSE(result.err.contains("terminate called")) << where;
            if (result.status != 0) {
                EXPECT_FALSE(result.err.trimmed().isEmpty()) << where;
            }
        }
    };
    for (const auto &[damage, bytes] : files)
        check(damage, [&, bytes = bytes] {
            QFile spoilt(this->file());
            ASSERT_TRUE(spoilt.open(QIODevice::WriteOnly));
            spoilt.write(bytes);
        });
    for (const auto &[damage, sql] : statements)
        check(damage, [&, sql = sql] {
            QFile intactFile(this->file());
            ASSERT_TRUE(intactFile.open(QIODevice::WriteOnly));
            intactFile.write(intact);
            intactFile.close();
            for (const QString &statement : QString::fromLatin1(sql).split(QStringLiteral("; ")))
                execute(statement);
        });
}
