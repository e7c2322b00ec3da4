#pragma once
// "Verlauf": a battery's life at a glance. Above, every treatment with its
// date, program, the capacities its steps measured and their share of the
// nominal capacity; below, the discharge capacity over time with its trend
// line. Read from the step rows (BatteryHistory), never from the samples.

#include "database/BatteryHistory.h"

#include <QDialog>
#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;

// The chart: measured discharge capacities (points joined by a line) over
// the dates, the nominal capacity as a dashed line, and the trend.
class THistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit THistoryChart(QWidget *parent = nullptr);
    void SetHistory(const BatteryHistory &history);
    QSize sizeHint() const override { return {560, 240}; }

    // Axis ranges: days from the first to the last measurement (at least one
    // day), mAh from 0 to a round figure above the largest value and the
    // nominal capacity.
    struct Range {
        QDate First, Last;
        int MaxMah = 0;
        int StepMah = 0;   // between the value axis' labels
    };
    static Range RangeOf(const BatteryHistory &history);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    BatteryHistory history_;
    CapacityTrend trend_;
};

class THistoryDialog : public QDialog {
    Q_OBJECT
public:
    explicit THistoryDialog(QWidget *parent = nullptr);
    void SetHistory(const BatteryHistory &history);

private:
    QLabel *SummaryLabel;
    QTableWidget *HistoryGrid;
    THistoryChart *Chart;
    QPushButton *CloseButton;
};
