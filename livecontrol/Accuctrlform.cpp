#include "livecontrol/Accuctrlform.h"

#include "livecontrol/LivePageLayout.h"

#include "database/Texts.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QStringList>
#include <QTableView>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);
const QColor Maroon(128, 0, 0);
const QColor Lime(0, 255, 0);
const QColor Green(0, 128, 0);

QLabel* ValuePanel(QWidget* parent)
{
    auto* panel = new QLabel(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

// A gauge filling its panel, drawn as designed at 95 x 60 pixels and scaled
// to the panel.
TArcGauge* GaugeIn(QWidget* panel)
{
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* gauge = new TArcGauge(panel);
    gauge->SetDesignSize(QSize(LivePageLayout::DesignGaugeWidth, LivePageLayout::DesignGaugeHeight));
    layout->addWidget(gauge);
    return gauge;
}

}  // namespace

TAccuControlForm::TAccuControlForm(TBRASKDataModule& database, QWidget* parent)
    : TAccuControlForm(StepListModel::ReaderOf(database), parent)
{
}

TAccuControlForm::TAccuControlForm(StepListModel::StepReader stepReader, QWidget* parent)
    : QWidget(parent)
{
    SubServiceQuery = new StepListModel(std::move(stepReader), this);
    BuildControls();

    VoltageGauge = GaugeIn(VGaugePanel);
    VoltageGauge->SetEnd(12);
    VoltageGauge->SetSegments(4);
    VoltageGauge->SetSubSegments(3);
    VoltageGauge->SetNeedleWidth(2);

    CurrentGauge = GaugeIn(AGaugePanel);
    CurrentGauge->SetEnd(4);
    CurrentGauge->SetSegments(3);
    CurrentGauge->SetSubSegments(4);
    CurrentGauge->SetNeedleWidth(2);

    // The controls go by their names, for tests and screenshots to find them.
    const std::pair<QObject*, const char*> names[] = {
        {Panel2, "Panel2"}, {TerminalLabel, "TerminalLabel"}, {StatusLabel, "StatusLabel"},
        {CapacityLabel, "CapacityLabel"}, {PercentLabel, "PercentLabel"},
        {HundredPercentCircle, "HundredPercentCircle"}, {PercentPie, "PercentPie"},
        {VGaugePanel, "VGaugePanel"}, {AGaugePanel, "AGaugePanel"}, {ChartPanel, "ChartPanel"},
        {pf, "pf"}, {VPanel, "VPanel"}, {APanel, "APanel"}, {TimePanel, "TimePanel"},
        {SubServicesDBGrid, "SubServicesDBGrid"}, {SubServiceQuery, "SubServiceQuery"},
        {VoltageGauge, "VoltageGauge"}, {CurrentGauge, "CurrentGauge"}};
    for (const auto& [control, name] : names)
        control->setObjectName(QLatin1String(name));

    ArrangeControls();

    stepFunction = 0;
    nominalCapacity = 0;
    ShowTime(0);
    ShowVoltage(0);
    ShowCurrent(0);
    ShowCapacity(0);
}

void TAccuControlForm::BuildControls()
{
    resize(287, 201);

    // Everything is placed by ArrangeControls, as the page's size allows.
    Panel2 = new QWidget(this);

    TerminalLabel = new QLabel(Panel2);
    QFont bold = TerminalLabel->font();
    bold.setBold(true);
    TerminalLabel->setFont(bold);
    TerminalLabel->setGeometry(5, 5, 145, 15);

    StatusLabel = new QLabel(Panel2);
    StatusLabel->setGeometry(5, 19, 200, 15);
    QPalette warning = StatusLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(192, 0, 0));
    StatusLabel->setPalette(warning);
    StatusLabel->hide();

    CapacityLabel = new QLabel(Panel2);
    CapacityLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    PercentLabel = new QLabel(Panel2);
    PercentLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);

    HundredPercentCircle = new TCircleShape(Panel2);
    HundredPercentCircle->SetPenWidth(2);
    PercentPie = new TPie(Panel2);
    PercentPie->SetEndAngle(90);

    VGaugePanel = new QWidget(Panel2);
    AGaugePanel = new QWidget(Panel2);

    auto* chartFrame = new QFrame(Panel2);
    chartFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    chartFrame->setLineWidth(1);
    ChartPanel = chartFrame;
    auto* chartLayout = new QVBoxLayout(ChartPanel);
    chartLayout->setContentsMargins(3, 3, 3, 3);
    pf = new TPerformanceGraph(ChartPanel);
    pf->SetForeground(QColor(192, 192, 192));
    pf->SetBackground(QColor(128, 128, 128));
    pf->SetGridSize(20);
    pf->SetStepSize(1);
    pf->SetGridLines(false);
    chartLayout->addWidget(pf);

    VPanel = ValuePanel(Panel2);
    APanel = ValuePanel(Panel2);
    TimePanel = ValuePanel(Panel2);
    valueFont = VPanel->font();

    SubServicesDBGrid = new QTableView(this);
    SubServicesDBGrid->setModel(SubServiceQuery);
    SubServicesDBGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SubServicesDBGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    SubServicesDBGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    SubServicesDBGrid->setShowGrid(true);
    SubServicesDBGrid->verticalHeader()->hide();
    SubServicesDBGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    SubServicesDBGrid->setWordWrap(false);
    FitStepGrid();
    // The grid asks for the height of its rows; a new treatment or a changed
    // step list may need more or fewer.
    connect(SubServiceQuery, &QAbstractItemModel::modelReset, this, &TAccuControlForm::ArrangeControls);
    connect(SubServiceQuery, &QAbstractItemModel::rowsInserted, this, &TAccuControlForm::ArrangeControls);
    connect(SubServiceQuery, &QAbstractItemModel::rowsRemoved, this, &TAccuControlForm::ArrangeControls);
}

void TAccuControlForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ArrangeControls();
}

void TAccuControlForm::ArrangeControls()
{
    LivePageMetrics metrics;
    metrics.Page = size();
    metrics.StepRows = std::clamp(SubServiceQuery->rowCount(), 4, 10);
    metrics.RowHeight = SubServicesDBGrid->verticalHeader()->defaultSectionSize();
    metrics.HeaderHeight = SubServicesDBGrid->horizontalHeader()->height() + 2 * SubServicesDBGrid->frameWidth();
    // The value texts grow with the gauges, up to half again their size.
    LivePageGeometry g = LivePageLayout::Arrange(metrics);
    QFont font = valueFont;
    font.setPointSizeF(valueFont.pointSizeF() * std::clamp(g.GaugeScale * 0.8, 1.0, 1.5));
    const int valueHeight = std::max(20, QFontMetrics(font).height() + 6);
    if (valueHeight != metrics.ValueHeight) {
        metrics.ValueHeight = valueHeight;
        g = LivePageLayout::Arrange(metrics);
    }
    for (QLabel* value : {VPanel, APanel, TimePanel})
        value->setFont(font);

    capacityRight = g.CapacityRight;
    Panel2->setGeometry(g.Instruments);
    CapacityLabel->setGeometry(g.CapacityRight - 90, 5, 90, 13);
    PercentLabel->setGeometry(g.CapacityRight + 1 - 90, 18, 90, 13);
    HundredPercentCircle->setGeometry(g.HundredPercentCircle);
    PercentPie->setGeometry(g.PercentPie);
    VGaugePanel->setGeometry(g.VoltageGauge);
    AGaugePanel->setGeometry(g.CurrentGauge);
    ChartPanel->setGeometry(g.Chart);
    VPanel->setGeometry(g.VoltageText);
    APanel->setGeometry(g.CurrentText);
    TimePanel->setGeometry(g.TimeText);
    SubServicesDBGrid->setGeometry(g.Steps);
    LayoutCaption();
    ShowStatusText();
}

void TAccuControlForm::FitStepGrid()
{
    // The page is small: the grid uses a slightly smaller font, so four steps
    // fit below the gauges.
    QFont small = SubServicesDBGrid->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    SubServicesDBGrid->setFont(small);
    SubServicesDBGrid->horizontalHeader()->setFont(small);
    // FormCreate's widths are the least; the font actually used may need more
    // for the longest text a column can show.
    const QFontMetrics text(small);
    const QFontMetrics title(small);
    const int padding = 8;  // the cell's margins
    const struct {
        StepListModel::Column column;
        int least;
        QStringList texts;
    } columns[] = {
        {StepListModel::FunctionString, 50, {"Funktion", "Entladen", "Laden", "Warten", "???"}},
        {StepListModel::Parameter, 45, {"mA", "9999"}},
        {StepListModel::Capacity, 50, {"mAh", "99999"}},
        {StepListModel::DurationString, 45, {"Dauer", "99:59:59"}},
        {StepListModel::StateString, 70, {"Status", "folgt", "läuft", "Fehler!", "OK", "abgebrochen"}},
    };
    for (const auto& c : columns) {
        int width = c.least;
        for (const QString& t : c.texts)
            width = std::max({width, text.horizontalAdvance(t) + padding,
                              title.horizontalAdvance(t) + padding});
        SubServicesDBGrid->setColumnWidth(c.column, width);
    }
    // Compact rows: the text's height and a small margin, not the style's default.
    QHeaderView* rows = SubServicesDBGrid->verticalHeader();
    rows->setMinimumSectionSize(text.height());
    rows->setDefaultSectionSize(text.height() + 2);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    SubServicesDBGrid->horizontalHeader()->setFixedHeight(title.height() + 3);
    SubServicesDBGrid->horizontalHeader()->setStretchLastSection(true);
}

void TAccuControlForm::LayoutCaption()
{
    const int gap = 6;
    const int capacityLeft = !CapacityLabel->isHidden()
                                 ? capacityRight - CapacityLabel->fontMetrics().horizontalAdvance(CapacityLabel->text())
                                 : HundredPercentCircle->x();
    const int available = std::max(0, capacityLeft - gap - TerminalLabel->x());
    const QFontMetrics metrics(TerminalLabel->font());
    const QString shown = metrics.elidedText(caption, Qt::ElideRight, available);
    TerminalLabel->setText(shown);
    TerminalLabel->setToolTip(shown == caption ? QString() : caption);
    TerminalLabel->setGeometry(TerminalLabel->x(), TerminalLabel->y(),
                               std::min(available, metrics.horizontalAdvance(shown) + 2),
                               metrics.height());
}

void TAccuControlForm::ShowStatusText()
{
    QStringList parts;
    if (noAnswer)
        parts << noAnswerText;
    if (!writeText.isEmpty())
        parts << writeText;
    const QString text = parts.join(QStringLiteral("; "));
    if (text.isEmpty()) {
        StatusLabel->hide();
        StatusLabel->setToolTip(QString());
        return;
    }
    // The line between caption and gauges ends where the percentage begins.
    const int right = !PercentLabel->isHidden()
                          ? PercentLabel->geometry().right() - PercentLabel->fontMetrics().horizontalAdvance(
                                PercentLabel->text()) - 6
                          : HundredPercentCircle->x() - 4;
    const int available = std::max(40, right - StatusLabel->x());
    const QFontMetrics metrics(StatusLabel->font());
    const QString shown = metrics.elidedText(text, Qt::ElideRight, available);
    StatusLabel->setText(shown);
    StatusLabel->setToolTip(shown == text ? QString() : text);
    StatusLabel->setGeometry(StatusLabel->x(), StatusLabel->y(),
                             std::min(available, metrics.horizontalAdvance(shown) + 2), metrics.height());
    StatusLabel->show();
}

void TAccuControlForm::ShowWriteStatus(const WriteStatus& status)
{
    writeText = WriteStatusText(status);
    ShowStatusText();
}

void TAccuControlForm::ShowNoAnswer(int secondsSinceLastAnswer, const QString& fault)
{
    noAnswerText = (fault.isEmpty() ? QStringLiteral("keine Antwort") : fault) + QStringLiteral(" seit ")
                   + TimeText(secondsSinceLastAnswer);
    const bool wasSilent = noAnswer;
    noAnswer = true;
    ShowStatusText();
    if (wasSilent)
        return;
    // Frozen values must not look like fresh ones.
    for (QWidget* w : {VGaugePanel, AGaugePanel, ChartPanel, static_cast<QWidget*>(VPanel),
                       static_cast<QWidget*>(APanel), static_cast<QWidget*>(TimePanel)})
        w->setEnabled(false);
}

void TAccuControlForm::EndNoAnswer()
{
    if (!noAnswer)
        return;
    noAnswer = false;
    ShowStatusText();
    for (QWidget* w : {VGaugePanel, AGaugePanel, ChartPanel, static_cast<QWidget*>(VPanel),
                       static_cast<QWidget*>(APanel), static_cast<QWidget*>(TimePanel)})
        w->setEnabled(true);
}

QString TAccuControlForm::TimeText(int seconds)
{
    return DurationText(seconds);
}

QString TAccuControlForm::NumberText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

void TAccuControlForm::SetupService(int serviceID, const QString& title, double nominalVoltage,
                                    double maxCurrentA)
{
    caption = title;
    LayoutCaption();

    double voltageEnd = 48;
    if (nominalVoltage <= 6)
        voltageEnd = 8;
    else if (nominalVoltage <= 10)
        voltageEnd = 12;
    else if (nominalVoltage <= 18)
        voltageEnd = 20;
    VoltageGauge->SetEnd(voltageEnd);

    if (maxCurrentA < 0.6) {
        CurrentGauge->SetDigits(1);
        CurrentGauge->SetEnd(0.6);
    } else {
        CurrentGauge->SetEnd(2);
        CurrentGauge->SetSegments(2);
        CurrentGauge->SetSubSegments(4);
    }

    SubServiceQuery->Open(serviceID);
}

void TAccuControlForm::ShowTime(int seconds)
{
    EndNoAnswer();
    TimePanel->setText(TimeText(seconds));
}

void TAccuControlForm::ShowVoltage(double volts)
{
    EndNoAnswer();
    VPanel->setText(NumberText(volts) + QStringLiteral(" V"));
    VoltageGauge->SetValue(volts);
}

void TAccuControlForm::ShowCurrent(double amps)
{
    APanel->setText(NumberText(amps) + QStringLiteral(" A"));
    CurrentGauge->SetValue(amps);
}

void TAccuControlForm::AddVoltagePoint(double volts)
{
    // Percent of the voltage gauge's full scale; End is never 0 (the gauge refuses Start == End).
    const int height = static_cast<int>(100.0 * volts / VoltageGauge->End());
    pf->DataPoint(pointColor, height);
    pf->update();
}

void TAccuControlForm::SetStepFunction(int function)
{
    stepFunction = static_cast<uint8_t>(function);
}

void TAccuControlForm::SetPercentGroupVisible(bool visible)
{
    CapacityLabel->setVisible(visible);
    PercentLabel->setVisible(visible);
    PercentPie->setVisible(visible);
    HundredPercentCircle->setVisible(visible);
    LayoutCaption();
}

void TAccuControlForm::ShowCapacity(int mAh)
{
    if (stepFunction == Warten || nominalCapacity == 0) {
        SetPercentGroupVisible(false);
        pointColor = Blue;
        return;
    }
    const double ratio = static_cast<double>(mAh) / nominalCapacity;
    const bool over = ratio > 1.0;
    const double fraction = over ? ratio - 1.0 : ratio;

    if (stepFunction == Entladen) {
        pointColor = Red;
        pieColor = over ? Maroon : Red;
    } else if (stepFunction == Laden) {
        pointColor = Lime;
        pieColor = over ? Green : Lime;
    }

    PercentPie->SetStartAngle(static_cast<int>(89 - fraction * 360));
    PercentPie->SetBrushColor(pieColor);
    HundredPercentCircle->SetBrushColor(pointColor);
    HundredPercentCircle->SetFilled(over);

    CapacityLabel->setText(QString::number(mAh) + QStringLiteral("mAh"));
    PercentLabel->setText(QString::number(static_cast<int>(100.0 * ratio)) + QStringLiteral("%"));
    SetPercentGroupVisible(true);
}

void TAccuControlForm::RefreshSteps()
{
    SubServicesDBGrid->setUpdatesEnabled(false);
    SubServiceQuery->Refresh();
    SubServicesDBGrid->setUpdatesEnabled(true);
}
