// braskon: the windowed program. Start-up: application title, database
// location, windows and data modules in their fixed order, then the event
// loop shows the main window with its battery page.
//
// Only for the documentation screenshot, two options are read:
//   --database DIR     use DIR instead of the database beside the program
//   --screenshot FILE  show the main window, save a picture of it, quit
//   --demo             with --screenshot: fill an empty database with a few batteries

#include "mainwindow/Commands.h"
#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include "database/Datamodule.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

struct Options {
    QString databaseDirectory;
    QString screenshotFile;
    bool demo = false;
};

Options ReadOptions(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--database") && i + 1 < arguments.size())
            options.databaseDirectory = arguments.at(++i);
        else if (argument == QLatin1String("--screenshot") && i + 1 < arguments.size())
            options.screenshotFile = arguments.at(++i);
        else if (argument == QLatin1String("--demo"))
            options.demo = true;
    }
    return options;
}

void AddDemoBatteries(TBRASKDataModule &database)
{
    if (database.BatteryQuery()->rowCount() > 0)
        return;
    const MainCommands::NewBatteryInput batteries[] = {
        {QString(), QStringLiteral("600"), 1, 4, QStringLiteral("4"), QStringLiteral("Empfänger-Akku Segler")},
        {QString(), QStringLiteral("1700"), 0, 0, QStringLiteral("7"), QStringLiteral("Fahrakku Buggy")},
        {QString(), QStringLiteral("2000"), 1, 4, QStringLiteral("1"), QStringLiteral("Kamera Mignon 1")},
        {QString(), QStringLiteral("7200"), 2, 0, QStringLiteral("6"), QStringLiteral("Bleigel Rasenmäher")},
    };
    for (MainCommands::NewBatteryInput battery : batteries) {
        const int proposal = database.PeekBatteryID();
        battery.id = QString::number(proposal);
        MainCommands::StoreNewBattery(database, proposal, battery);
    }
    database.ReopenBatteries(0);
}

// A start that fails ends the program: the reason goes to the error output
// for scripts and logs, and into a message box when there is a screen to show
// it on (on the offscreen platform nobody could close the box).
void ShowStartupError(const QString &text)
{
    QTextStream(stderr) << "braskon: " << text << Qt::endl;
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QStringLiteral("Brask"), text);
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brask"));

    const Options options = ReadOptions(QApplication::arguments());
    const QString databaseDirectory = options.databaseDirectory.isEmpty()
                                          ? TBRASKDataModule::DefaultDatabaseDirectory()
                                          : options.databaseDirectory;
    std::unique_ptr<TBraskon> program;
    try {
        QDir().mkpath(databaseDirectory);
        program = std::make_unique<TBraskon>(databaseDirectory);
        if (options.demo && !options.screenshotFile.isEmpty())
            AddDemoBatteries(program->DataModule());
    } catch (const DatabaseError &error) {
        ShowStartupError(error.message());
        return 1;
    } catch (const std::exception &error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()));
        return 1;
    }

    TMainForm &mainForm = program->MainForm();
    mainForm.show();

    if (!options.screenshotFile.isEmpty()) {
        // Once the first layout and the idle update have run.
        QTimer::singleShot(200, &mainForm, [&mainForm, file = options.screenshotFile] {
            mainForm.UpdateMenus();
            const bool saved = mainForm.grab().save(file);
            QApplication::exit(saved ? 0 : 2);
        });
    }
    const int status = QApplication::exec();
    program.reset();
    return status;
}
