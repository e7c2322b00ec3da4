// braskon-cli export: labels, protocols and lists as the window's builders
// make them, in the caller's locale.

#include "tests/support/KestrixFixture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <tuple>

TEST(ExportCommand, LabelProtocolAndListsThroughTheSameBuilders)
{
    TestDatabase db;
    db.AddBattery(1, 600, 1, 4, QStringLiteral("Mignon"));
    db.AddBattery(2, 7200, 2, 4);
    const int service = InsertTreatment(*db.data, 1, 3, Entladen, 500);
    Records(*db.data).InsertSample({service, 1, 30, 1402, 500, 0});
    const QString dir = db.directory.path();
    db.data.reset();   // the command opens the database itself
    const auto run = [&dir](const QStringList &args, const QString &locale = QStringLiteral("C")) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LC_ALL", "LANG"})
            environment.insert(QLatin1String(name), locale);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(BRASKON_CLI), QStringList({"--database", dir, "export"}) + args);
        process.waitForFinished(30000);
        return std::make_pair(process.exitCode(), process.readAllStandardOutput());
    };
    const QString id = QString::number(service);
    const QList<std::tuple<QStringList, QString, QByteArray>> outputs = {
        {{"label", "1"}, "de_DE.UTF-8", "Akku 1\r\nMignon\r\nNMH   600mAh   4,8V\r\n"},
        {{"label", "1"}, "C", "Akku 1\r\nMignon\r\nNMH   600mAh   4.8V\r\n"},
        {{"label", "2"}, "de_DE.UTF-8", "Akku 2\r\n\r\nBlei   7200mAh   8V\r\n"},
        {{"batteries"}, "C", "1\t600\tNMH\tMignon\t\r\n2\t7200\tBlei\t\t\r\n"},
        {{"protocol", id}, "C", "[s]\t[V]\t[A]\t[fx]\r\n30\t1.402\t0.5\tEntladen\r\n"},
        {{"steps", id}, "C", "Entladen\t500\t0\t0:0:0\tfolgt\r\n"},
    };
    for (const auto &[args, locale, expected] : outputs)
        EXPECT_EQ(run(args, locale), std::make_pair(0, expected)) << args.join(' ').toStdString();

    const QString rtfFile = dir + QStringLiteral("/label.rtf");
    EXPECT_EQ(run({"label", "1", "--rtf", "-o", rtfFile}).first, 0);
    QFile file(rtfFile);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll().startsWith("{\\rtf1"));
    const auto missing = run({"label", "9"});
    EXPECT_TRUE(missing.first != 0 && missing.second.isEmpty());
    EXPECT_NE(run({"protocol", "77"}).first, 0);
}
