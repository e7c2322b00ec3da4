#pragma once
// TDiagramPropertyDialog "Diagrammeigenschaften": removes curves of the active
// diagram, sets the scaling of a value axis and of the time axis, and sets
// the discharge and charge line styles of a curve. Changes apply only on
// "Übernehmen", and only for the page visible then; bad scaling input is
// answered with a beep.

#include "diagrams/ChartModel.h"

#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class TDiagramForm;
class TMultiChart;

// The twelve colours of the colour lists, index = list position.
struct NamedColor
{
    const char* Name;
    int32_t Value;
};
extern const NamedColor kListColors[12];
extern const char* const kListStyles[5];
// Value to list index; unknown colours (and black) give 0, "clBlack"; pen
// styles outside 1..4 (the invisible one included) give 0, "psSolid".
int ColorListIndex(int32_t color);
int StyleListIndex(int style);

// A fixed list whose items are drawn as a line style or a colour box, in the
// drop-down and in the closed box alike.
class TOwnerDrawnComboBox : public QComboBox
{
    Q_OBJECT
public:
    enum Kind { StyleList, ColorList };
    explicit TOwnerDrawnComboBox(Kind kind, QWidget* parent = nullptr);
    static void PaintItem(QPainter& painter, const QRect& rect, Kind kind, int index,
                          bool selected);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind m_kind;
};

class TListItemDelegate : public QStyledItemDelegate
{
public:
    TListItemDelegate(TOwnerDrawnComboBox::Kind kind, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TOwnerDrawnComboBox::Kind m_kind;
};

// A plain paint area.
class TPaintBox : public QWidget
{
public:
    explicit TPaintBox(QWidget* parent = nullptr) : QWidget(parent) {}
    std::function<void(QPainter&)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TDiagramPropertyDialog : public QDialog
{
    Q_OBJECT

public:
    enum Page { PageCurves = 0, PageScaling = 1, PageDrawing = 2 };

    explicit TDiagramPropertyDialog(QWidget* parent = nullptr);

    // The diagram window the dialog works on; set before every showing.
    void SetDiagram(TDiagramForm* form);
    void SelectPage(Page page);
    Page CurrentPage() const;

signals:
    // Scaling input was rejected (answered with the system beep).
    void InputRejected();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Handlers of the controls.
    void FormShow();
    void CurveRefresh();
    void btnRemoveCurveClick();
    void rbAxis_VClick();
    void rbAxis_mAClick();
    void btnTakeItClick();

    // Controls; their object names are these names.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* scalaSetupSheet = nullptr;
    QWidget* curveSetupSheet = nullptr;
    QComboBox* cbCurves2 = nullptr;
    QPushButton* btnRemoveCurve = nullptr;
    TPaintBox* LineViewPaintBox = nullptr;
    QRadioButton* rbAxis_V = nullptr;
    QRadioButton* rbAxis_mA = nullptr;
    QLineEdit* edYStart = nullptr;
    QLineEdit* edYEnd = nullptr;
    QSpinBox* udYSegments = nullptr;
    QSpinBox* udYSubSegments = nullptr;
    QLineEdit* edXStartH = nullptr;
    QLineEdit* edXStartM = nullptr;
    QLineEdit* edXStartS = nullptr;
    QLineEdit* edXEndH = nullptr;
    QLineEdit* edXEndM = nullptr;
    QLineEdit* edXEndS = nullptr;
    QSpinBox* udXSegments = nullptr;
    QSpinBox* udXSubSegments = nullptr;
    QComboBox* cbCurves = nullptr;
    QTabWidget* PageControl2 = nullptr;
    TOwnerDrawnComboBox* cbDischargeLineStyle = nullptr;
    TOwnerDrawnComboBox* cbDischargeLineColor = nullptr;
    QSpinBox* udDischargeLineWidth = nullptr;
    TOwnerDrawnComboBox* cbChargeLineStyle = nullptr;
    TOwnerDrawnComboBox* cbChargeLineColor = nullptr;
    QSpinBox* udChargeLineWidth = nullptr;
    QRadioButton* rbOverlapPhases = nullptr;
    QRadioButton* rbDontOverlapPhases = nullptr;
    QPushButton* btnTakeIt = nullptr;
    QPushButton* Button1 = nullptr;

    void buildCurvesPage();
    void buildScalingPage();
    void buildDrawingPage();
    void fillValueAxisControls(int axisIndex);
    void applyScaling();
    void applyDrawing();
    void LineViewPaintBoxPaint(QPainter& painter);

    QPointer<TDiagramForm> m_form;
    QPointer<TMultiChart> m_chart;
};
