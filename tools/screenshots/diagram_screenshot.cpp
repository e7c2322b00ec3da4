// Renders a diagram page to a PNG file (argument: the file's path): the
// voltage and current curves of a recorded discharge-charge treatment and the
// voltage curve of a second pack's treatment, with the legend and both value
// axes.

#include "tests/diagrams/DiagramTestData.h"
#include "tests/diagrams/WaitForCurves.h"
#include "diagrams/Diagdocs.h"
#include "diagrams/Diagform.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTabWidget>

#include <cmath>
#include <cstdio>

namespace {

// A four-cell NiMH pack: one hour forty of discharge at 1 A, then charging
// at 1 A until the voltage peaks and drops a little.
void RecordTreatment(DiagramTestData& data, int service, double offsetVolts = 0.0, double timeScale = 1.0)
{
    data.AddStep(service, 1, 0);
    data.AddStep(service, 2, 1);
    const int dischargeEnd = 6000, chargeEnd = 14100;
    for (int t = 0; t <= chargeEnd; t += 30) {
        double volts, milliamps = 1000;
        if (t <= dischargeEnd) {
            const double x = static_cast<double>(t) / dischargeEnd;
            volts = 5.15 - 0.35 * x - 0.08 * (1 - std::exp(-t / 120.0)) - 0.55 * std::pow(x, 12);
        } else {
            const double x = static_cast<double>(t - dischargeEnd) / (chargeEnd - dischargeEnd);
            volts = 5.25 + 0.12 * (1 - std::exp(-(t - dischargeEnd) / 300.0)) + 0.18 * x + 0.25 * std::pow(x, 8);
            if (x > 0.95)
                volts -= (x - 0.95) * 1.6;  // -dV after the peak
            milliamps = x < 0.97 ? 1000 : 0;
        }
        data.AddSample(service, t <= dischargeEnd ? 1 : 2, static_cast<int>(t * timeScale),
                       static_cast<int>((volts + offsetVolts) * 1000), static_cast<int>(milliamps));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("diagram.png");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    DiagramTestData data;
    const int service = data.AddService(data.AddBattery(2000));
    RecordTreatment(data, service);
    // A five-cell pack of less capacity: higher voltage, done sooner.
    const int second = data.AddService(data.AddBattery(1500), 0, 4);
    RecordTreatment(data, second, 1.2, 0.8);

    QTabWidget tab;
    tab.setTabPosition(QTabWidget::South);
    tab.resize(900, 560);
    QMenu popup;
    TDiagramPropertyDialog dialog;
    TDiagramCommands commands(&tab, &popup, data.DataModule.get(), &dialog);
    TDiagramForm* form = commands.NewDiagram();
    form->AddServiceCurve(service, 0);
    // The second pack's voltage styled apart, as a user would: wide lines.
    if (Curve* voltage = form->AddServiceCurve(second, 0)) {
        voltage->Styles[0] = LineStyle{ColorValue(128, 0, 0), psSolid, 3};
        voltage->Styles[1] = LineStyle{ColorValue(0, 0, 128), psSolid, 3};
    }
    // The current curve keeps its default colours, none of them a voltage colour.
    form->AddServiceCurve(service, 1);
    TMultiChart* chart = form->Chart();
    chart->SetActiveYAxis(1);
    chart->SetYAxisEndValue(1500);
    chart->SetYAxisNumSegments(6);
    chart->SetActiveYAxis(0);
    chart->SetYAxisStartValue(3);
    chart->SetYAxisEndValue(7);
    chart->SetYAxisNumSegments(8);
    chart->AutoYAxisDigits(0.5);
    chart->SetXAxisEndValue(4 * 3600);
    chart->SetXAxisNumSegments(8);
    chart->SetXAxisNumSubSegments(3);
    tab.show();
    if (!CurvesLoaded(*form)) {
        std::fprintf(stderr, "the curves did not load\n");
        return 1;
    }
    QApplication::processEvents();

    if (!tab.grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));

    // Optionally the printed page at 100 dpi (second argument).
    if (argc > 2) {
        QImage page(850, 1100, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        QFont font = QApplication::font();
        font.setPointSize(10);
        commands.PaintDiagramPage(painter, 100, QFont(font, &page));
        painter.end();
        page.save(QString::fromLocal8Bit(argv[2]), "PNG");
    }
    return 0;
}
