// live_screenshot: the documentation picture of the main window with two
// running treatments, one charging and one discharging, on simulated chargers.
//
//   live_screenshot DISCHARGE_PNG [CHARGE_PNG]
//
// Starts braskon-sim with a Lumo on COM1 and a Tesk on COM2, creates two
// batteries and starts the treatments through the program's own dialogs, lets
// the timer tick until both pages have drawn a stretch of their strip charts,
// and saves the main window, at the size of a first start, showing the
// discharging page with the four steps of "2x Entladen-Laden" (and, when a
// second file is given, showing the charging page).
#include "ProgramDriver.h"
#include "SimulatorProcess.h"

#include "livecontrol/Accuctrlform.h"
#include "mainwindow/Mainform.h"

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>

#include <cstdio>
#include <exception>

namespace {

constexpr int StartTimeoutMs = 30000;
constexpr int TickTimeoutMs = 60000;
// Strip chart points per page before the picture is taken.
constexpr size_t PointsShown = 60;

bool SavePage(E2e::Program& program, TAccuControlForm* page, const QString& file)
{
    TMainForm& form = program.Form();
    form.AccuTab->setCurrentWidget(page->parentWidget());
    QCoreApplication::processEvents();
    const bool saved = form.grab().save(file);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    return saved;
}

int Run(const QStringList& files)
{
    // COM1: a 4-cell receiver pack, 30 % charged; COM2: a 7-cell drive pack, 90 % charged.
    SimTest::SimulatorProcess simulator(
        {"--port", "1=lumo", "--port", "2=tesk", "--speed", "900", "--soc", "1=30", "--soc", "2=90"});
    simulator.start();

    E2e::Program program;
    E2e::ModalDriver driver;
    TMainForm& form = program.Form();
    form.TheTimer->setInterval(50);
    form.resize(TMainForm::FirstStartSize(QSize(1920, 1080)));

    program.CreateBatteryWithInsertKey(driver, {"600", 1, "4", "Empfängerakku Segler"});
    TAccuControlForm* charging = program.StartTreatment(
        driver, {"Lumo an COM1", "Laden", E2e::Current::CThird, E2e::Current::CThird}, StartTimeoutMs);
    program.CreateBatteryWithInsertKey(driver, {"1700", 0, "7", "Fahrakku Buggy"});
    TAccuControlForm* discharging = program.StartTreatment(
        driver, {"Tesk an COM2", "2x Entladen-Laden", E2e::Current::CThird, E2e::Current::CThird}, StartTimeoutMs);
    if (!charging || !discharging) {
        std::fprintf(stderr, "a treatment did not start: %s\n", qPrintable(driver.unexpected.join("; ")));
        return 1;
    }
    const bool ticked = E2e::WaitFor(
        [&] { return charging->pf->Points().size() >= PointsShown && discharging->pf->Points().size() >= PointsShown; },
        TickTimeoutMs);
    if (!ticked) {
        std::fprintf(stderr, "the treatments were not polled in time\n");
        return 1;
    }
    form.TheTimer->stop();   // both pictures show the same moment
    bool saved = SavePage(program, discharging, files.at(0));
    if (files.size() > 1)
        saved = SavePage(program, charging, files.at(1)) && saved;
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    if (files.isEmpty() || files.size() > 2) {
        std::fprintf(stderr, "usage: live_screenshot DISCHARGE_PNG [CHARGE_PNG]\n");
        return 2;
    }
    try {
        return Run(files);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "live_screenshot: %s\n", e.what());
        return 1;
    }
}
