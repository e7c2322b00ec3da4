#include "mainwindow/HistoryDialog.h"

#include "database/Texts.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// 1, 2 or 5 times a power of ten, so that about five labels fit.
int RoundStep(int maximum)
{
    const double raw = std::max(1, maximum) / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw)
            return std::max(1, int(factor * power));
    }
    return int(10 * power);
}

QString ShareText(int mAh, int nominal)
{
    const int percent = PercentOfNominal(mAh, nominal);
    return percent < 0 ? QString() : QStringLiteral("%1 %").arg(percent);
}

} // namespace

THistoryChart::THistoryChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HistoryChart"));
    setMinimumSize(320, 180);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void THistoryChart::SetHistory(const BatteryHistory &history)
{
    history_ = history;
    trend_ = DischargeTrend(history_);
    update();
}

THistoryChart::Range THistoryChart::RangeOf(const BatteryHistory &history)
{
    Range range;
    int largest = history.Battery.Capacity;
    for (const HistoryEntry &entry : history.Entries) {
        if (entry.Capacities.Discharged < 0 || !entry.Date.isValid())
            continue;
        if (!range.First.isValid() || entry.Date < range.First)
            range.First = entry.Date;
        if (!range.Last.isValid() || entry.Date > range.Last)
            range.Last = entry.Date;
        largest = std::max(largest, entry.Capacities.Discharged);
    }
    if (range.First.isValid() && range.First == range.Last)
        range.Last = range.First.addDays(1);
    range.StepMah = RoundStep(largest);
    range.MaxMah = (largest / range.StepMah + 1) * range.StepMah;
    return range;
}

void THistoryChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = fontMetrics();
    const Range range = RangeOf(history_);
    const QRect plot = rect().adjusted(metrics.horizontalAdvance(QStringLiteral("00000 mAh")) + 8,
                                       metrics.height(), -16, -2 * metrics.height() - 4);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(plot.left(), 0, plot.width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Entladene Kapazität (mAh)"));
    if (!range.First.isValid()) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("Noch keine gemessene Entladung"));
        return;
    }
    const auto days = static_cast<double>(std::max<qint64>(1, range.First.daysTo(range.Last)));
    const auto x = [&](const QDate &date) { return plot.left() + plot.width() * static_cast<double>(range.First.daysTo(date)) / days; };
    const auto y = [&](double mAh) { return plot.bottom() - plot.height() * mAh / range.MaxMah; };

    // Value axis with a light grid.
    const QColor grid = palette().color(QPalette::Mid);
    for (int mAh = 0; mAh <= range.MaxMah; mAh += range.StepMah) {
        painter.setPen(QPen(grid, 0, Qt::DotLine));
        painter.drawLine(QPointF(plot.left(), y(mAh)), QPointF(plot.right(), y(mAh)));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(0, y(mAh) - metrics.height() / 2.0, plot.left() - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(mAh));
    }
    painter.drawRect(plot);
    // Dates at both ends and in the middle.
    const QLocale locale;
    for (const QDate &date : {range.First, range.First.addDays(qint64(days / 2)), range.Last}) {
        const QString text = locale.toString(date, QLocale::ShortFormat);
        const double width = metrics.horizontalAdvance(text);
        const double left = std::clamp(x(date) - width / 2, 0.0, double(this->width()) - width);
        painter.drawText(QPointF(left, plot.bottom() + metrics.height() + 2), text);
    }

    // The nominal capacity.
    const int nominal = history_.Battery.Capacity;
    if (nominal > 0) {
        painter.setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), y(nominal)), QPointF(plot.right(), y(nominal)));
        const QString text = QStringLiteral("Nennkapazität %1 mAh").arg(nominal);
        painter.drawText(QPointF(plot.right() - metrics.horizontalAdvance(text) - 4, y(nominal) - 4), text);
    }
    // The trend over the whole span, named at the top right.
    if (trend_.Valid) {
        const QColor red(0xd0, 0x40, 0x20);
        painter.setPen(red);
        painter.drawText(QRect(plot.left(), 0, plot.width(), metrics.height()), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("\u2014 Trend"));
        painter.setPen(QPen(red, 2));
        painter.drawLine(QPointF(x(range.First), y(trend_.At(range.First))),
                         QPointF(x(range.Last), y(trend_.At(range.Last))));
    }
    // The measurements.
    QPainterPath line;
    const QColor blue(0x20, 0x50, 0xb0);
    painter.setPen(QPen(blue, 1.5));
    painter.setBrush(blue);
    for (const HistoryEntry &entry : history_.Entries) {
        if (entry.Capacities.Discharged < 0 || !entry.Date.isValid())
            continue;
        const QPointF point(x(entry.Date), y(entry.Capacities.Discharged));
        if (line.elementCount() == 0)
            line.moveTo(point);
        else
            line.lineTo(point);
        painter.drawEllipse(point, 3, 3);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(line);
}

THistoryDialog::THistoryDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HistoryDialog"));
    resize(640, 560);
    SummaryLabel = new QLabel(this);
    SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    SummaryLabel->setWordWrap(true);
    HistoryGrid = new QTableWidget(0, 7, this);
    HistoryGrid->setObjectName(QStringLiteral("HistoryGrid"));
    HistoryGrid->setHorizontalHeaderLabels({QStringLiteral("Datum"), QStringLiteral("Programm"),
                                            QStringLiteral("Geladen (mAh)"), QStringLiteral("Anteil"),
                                            QStringLiteral("Entladen (mAh)"), QStringLiteral("Anteil"),
                                            QStringLiteral("Ergebnis")});
    HistoryGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HistoryGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    HistoryGrid->verticalHeader()->hide();
    HistoryGrid->horizontalHeader()->setStretchLastSection(true);
    Chart = new THistoryChart(this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    CloseButton = buttons->button(QDialogButtonBox::Close);
    CloseButton->setText(QStringLiteral("&Schließen"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(SummaryLabel);
    layout->addWidget(HistoryGrid, 1);
    layout->addWidget(Chart, 1);
    layout->addWidget(buttons);
}

void THistoryDialog::SetHistory(const BatteryHistory &history)
{
    const BatteryRecord &battery = history.Battery;
    setWindowTitle(QStringLiteral("Verlauf von Akku %1").arg(battery.ID));
    const int health = history.Health();
    QString summary = QStringLiteral("<b>Akku %1</b> %2 – %3 mAh %4, %5 Behandlung%6. Zustand: %7")
                          .arg(battery.ID)
                          .arg(battery.Brand.toHtmlEscaped(), QString::number(battery.Capacity),
                               TypeName(battery.Type))
                          .arg(history.Entries.size())
                          .arg(history.Entries.size() == 1 ? QString() : QStringLiteral("en"))
                          .arg(health < 0 ? QStringLiteral("noch nicht gemessen")
                                          : QStringLiteral("%1 % der Nennkapazität").arg(health));
    const CapacityTrend trend = DischargeTrend(history);
    if (trend.Valid)
        summary += QStringLiteral(", Trend %1%2 mAh je 100 Tage")
                       .arg(trend.Slope >= 0 ? QStringLiteral("+") : QString())
                       .arg(std::lround(trend.Slope * 100));
    SummaryLabel->setText(summary + QLatin1Char('.'));

    HistoryGrid->setRowCount(static_cast<int>(history.Entries.size()));
    const QLocale locale;
    for (int row = 0; row < history.Entries.size(); ++row) {
        const HistoryEntry &entry = history.Entries[row];
        const auto number = [](int mAh) { return mAh < 0 ? QString() : QString::number(mAh); };
        const QStringList cells{locale.toString(entry.Date, QLocale::ShortFormat) + QLatin1Char(' ')
                                    + entry.Time.toString(QStringLiteral("HH:mm")),
                                ProgramName(entry.Program),
                                number(entry.Capacities.Charged),
                                ShareText(entry.Capacities.Charged, battery.Capacity),
                                number(entry.Capacities.Discharged),
                                ShareText(entry.Capacities.Discharged, battery.Capacity),
                                entry.Result};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (column >= 2 && column <= 5)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            HistoryGrid->setItem(row, column, item);
        }
    }
    HistoryGrid->resizeColumnsToContents();
    if (!history.Entries.isEmpty())
        HistoryGrid->scrollToBottom();
    Chart->SetHistory(history);
}
