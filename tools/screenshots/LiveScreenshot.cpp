// live_screenshot [--size WxH] DISCHARGE_PNG [CHARGE_PNG]: the documentation
// picture of the main window, at the given size (else the size of a first
// start on a 1920 x 1080 screen), with two running treatments on
// simulated chargers (a Lumo on COM1 charging, a Tesk on COM2 discharging),
// started through the program's own dialogs. The picture is taken once both
// strip charts have drawn a stretch, showing the discharging page with the
// four steps of "2x Entladen-Laden" (and, given a second file, the charging page).
#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"

#include "livecontrol/Accuctrlform.h"
#include "mainwindow/Mainform.h"

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>

#include <cstdio>
#include <exception>

namespace {

int Run(const QStringList& files, const QSize& size)
{
    // COM1: a 4-cell receiver pack, 30 % charged; COM2: a 7-cell drive pack, 90 % charged.
    SimTest::SimulatorProcess simulator(
        {"--port", "1=lumo", "--port", "2=tesk", "--speed", "900", "--soc", "1=30", "--soc", "2=90"});
    simulator.start();
    Program program;
    ModalDriver driver;
    TMainForm& form = program.Form();
    Part<QTimer>(form, "TheTimer")->setInterval(50);
    form.resize(size.isValid() ? size : TMainForm::FirstStartSize(QSize(1920, 1080)));

    program.CreateBatteryWithInsertKey(driver, {"600", 1, "4", "Empfängerakku Segler"});
    TAccuControlForm* charging = program.StartTreatment(
        driver, {"Lumo an COM1", "Laden", Current::CThird, Current::CThird}, 30000);
    program.CreateBatteryWithInsertKey(driver, {"1700", 0, "7", "Fahrakku Buggy"});
    TAccuControlForm* discharging = program.StartTreatment(
        driver, {"Tesk an COM2", "2x Entladen-Laden", Current::CThird, Current::CThird}, 30000);
    if (!charging || !discharging) {
        std::fprintf(stderr, "a treatment did not start: %s\n", qPrintable(driver.Report()));
        return 1;
    }
    const TPerformanceGraph* chargingChart = Part<TPerformanceGraph>(*charging, "pf");
    const TPerformanceGraph* dischargingChart = Part<TPerformanceGraph>(*discharging, "pf");
    if (!WaitFor([&] { return chargingChart->Points().size() >= 60 && dischargingChart->Points().size() >= 60; },
                      60000)) {
        std::fprintf(stderr, "the treatments were not polled in time (%zu and %zu points)\n",
                     chargingChart->Points().size(), dischargingChart->Points().size());
        return 1;
    }
    Part<QTimer>(form, "TheTimer")->stop();   // both pictures show the same moment
    bool saved = true;
    for (int i = 0; i < files.size(); ++i) {
        Part<QTabWidget>(form, "AccuTab")->setCurrentWidget((i == 0 ? discharging : charging)->parentWidget());
        QCoreApplication::processEvents();
        const bool ok = form.grab().save(files.at(i));
        std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(files.at(i)));
        saved = saved && ok;
    }
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    QSize size;
    if (files.size() >= 2 && files.first() == QLatin1String("--size")) {
        const QStringList parts = files.at(1).split(QLatin1Char('x'));
        if (parts.size() == 2)
            size = QSize(parts.at(0).toInt(), parts.at(1).toInt());
        if (!size.isValid() || size.isEmpty()) {
            std::fprintf(stderr, "live_screenshot: no size: %s\n", qPrintable(files.at(1)));
            return 2;
        }
        files = files.mid(2);
    }
    if (files.isEmpty() || files.size() > 2) {
        std::fprintf(stderr, "usage: live_screenshot [--size WxH] DISCHARGE_PNG [CHARGE_PNG]\n");
        return 2;
    }
    try {
        return Run(files, size);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "live_screenshot: %s\n", e.what());
        return 1;
    }
}
