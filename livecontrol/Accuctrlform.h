#pragma once
// TAccuControlForm: the live view of one running treatment on its page of the
// main window's treatment page control. It is set up once when the treatment
// has started and fed with the engine's report of every tick that brings news
// of its treatment; the window only reads.

#include "livecontrol/Instruments.h"
#include "livecontrol/SampleComponents.h"
#include "livecontrol/StepListModel.h"
#include "treatment/ServiceViews.h"

#include <QColor>
#include <QFont>
#include <QWidget>

#include <cstdint>

class QLabel;
class QTableView;
class TBRASKDataModule;

class TAccuControlForm : public QWidget, public ServiceControlWindow {
    Q_OBJECT
public:
    // Reads the treatment's steps through the data module.
    TAccuControlForm(TBRASKDataModule& database, QWidget* parent);
    // Reads the steps through the given lookup (see StepListModel).
    TAccuControlForm(StepListModel::StepReader stepReader, QWidget* parent);

    // ServiceControlWindow
    void SetupService(int serviceID, const QString& caption, double nominalVoltage,
                      double maxCurrentA) override;
    void ShowTime(int seconds) override;
    void ShowVoltage(double volts) override;
    void ShowCurrent(double amps) override;
    void AddVoltagePoint(double volts) override;
    void SetStepFunction(int function) override;
    void ShowCapacity(int mAh) override;
    void RefreshSteps() override;
    void SetNominalCapacity(int mAh) override { nominalCapacity = mAh; }
    // The charger did not answer: "keine Antwort seit h:m:s" and grey gauges,
    // values and graph, until the next answered poll (ShowTime/ShowVoltage).
    void ShowNoAnswer(int secondsSinceLastAnswer, const QString& fault) override;
    bool NoAnswer() const { return noAnswer; }
    // The treatment's records cannot be written: "Speichern fehlgeschlagen
    // seit ... – N Messwerte warten" until a status that is not Failing.
    void ShowWriteStatus(const WriteStatus& status) override;
    bool WriteFailing() const { return !writeText.isEmpty(); }

    int NominalCapacity() const { return nominalCapacity; }
    uint8_t StepFunction() const { return stepFunction; }
    QColor PieColor() const { return pieColor; }
    QColor PointColor() const { return pointColor; }

    // "h:m:s" of a number of seconds, as TimePanel shows it.
    static QString TimeText(int seconds);
    // General floating-point form with the locale's decimal separator.
    static QString NumberText(double value);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Controls, named by kind and role.
    QWidget* Panel2 = nullptr;
    QLabel* TerminalLabel = nullptr;
    // "keine Antwort seit ..." while the charger is silent, "Speichern
    // fehlgeschlagen ..." while the records cannot be written (both, when both)
    QLabel* StatusLabel = nullptr;
    QLabel* CapacityLabel = nullptr;
    QLabel* PercentLabel = nullptr;
    TCircleShape* HundredPercentCircle = nullptr;
    TPie* PercentPie = nullptr;
    QWidget* VGaugePanel = nullptr;
    QWidget* AGaugePanel = nullptr;
    QWidget* ChartPanel = nullptr;
    TPerformanceGraph* pf = nullptr;
    QLabel* VPanel = nullptr;
    QLabel* APanel = nullptr;
    QLabel* TimePanel = nullptr;
    QTableView* SubServicesDBGrid = nullptr;
    StepListModel* SubServiceQuery = nullptr;
    TArcGauge* VoltageGauge = nullptr;
    TArcGauge* CurrentGauge = nullptr;

    void BuildControls();
    // Places every control for the page's size (see LivePageLayout).
    void ArrangeControls();
    void SetPercentGroupVisible(bool visible);
    void EndNoAnswer();
    void ShowStatusText();
    // Caption and capacity share the top line: the caption gets what the
    // capacity text leaves and is shortened (full text as tool tip).
    void LayoutCaption();
    // Step grid: rows as high as the text, columns as wide as their texts.
    void FitStepGrid();

    QString caption;
    QFont valueFont;        // of the value texts at the design size
    int capacityRight = 247;
    bool noAnswer = false;
    QString noAnswerText;
    QString writeText;

    uint8_t stepFunction = 0;
    int nominalCapacity = 0;
    QColor pieColor = Qt::black;
    QColor pointColor = QColor(0, 0, 255);
};
