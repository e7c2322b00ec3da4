#include "diagrams/Diagpropdlg.h"

#include "diagrams/ChartGeometry.h"
#include "diagrams/Diagform.h"
#include "diagrams/MultiChart.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

const NamedColor kListColors[12] = {
    {"clBlack", 0},        {"clNavy", 8388608},    {"clBlue", 16711680}, {"clMaroon", 128},
    {"clRed", 255},        {"clGreen", 32768},     {"clLime", 65280},    {"clTeal", 8421376},
    {"clAqua", 16776960},  {"clOlive", 32896},     {"clYellow", 65535},  {"clFuchsia", 16711935},
};

const char* const kListStyles[5] = {"psSolid", "psDash", "psDot", "psDashDot", "psDashDotDot"};

int ColorListIndex(int32_t color)
{
    for (int i = 11; i >= 1; --i)
        if (kListColors[i].Value == color)
            return i;
    return 0;
}

int StyleListIndex(int style)
{
    for (int i = 4; i >= 1; --i)
        if (i == style)
            return i;
    return 0;
}

namespace {

constexpr int kItemHeight = 15;

Qt::PenStyle ListPenStyle(int index)
{
    static const Qt::PenStyle styles[5] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                           Qt::DashDotLine, Qt::DashDotDotLine};
    return index >= 0 && index < 5 ? styles[index] : Qt::SolidLine;
}

QPen LinePen(const LineStyle& style)
{
    if (style.Width <= 0 || style.Style == psClear)
        return QPen(Qt::NoPen);
    QPen pen(ColorFromValue(style.Color), style.Width, ListPenStyle(style.Style));
    return pen;
}

QSpinBox* MakeUpDown(const QString& name, int min, int max, int value, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(min, max);
    box->setWrapping(true);
    box->setValue(value);
    // The edit beside an up-down is read-only: values change by the arrows.
    if (auto* edit = box->findChild<QLineEdit*>())
        edit->setReadOnly(true);
    return box;
}

QLineEdit* MakeEdit(const QString& name, const QString& text, int maxLength, QWidget* parent)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
        edit->setFixedWidth(36);
    }
    return edit;
}

// Thrown inside "Übernehmen" for input that must not be applied.
struct RejectedInput
{
};

double ParseNumber(const QLineEdit* edit)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(edit->text().trimmed(), &ok);
    // "inf" and "nan" parse, but no axis can be drawn with them.
    if (!ok || !ChartGeometry::IsSaneAxisValue(v))
        throw RejectedInput{};
    return v;
}

int ParseInteger(const QLineEdit* edit)
{
    bool ok = false;
    const int v = edit->text().trimmed().toInt(&ok, 10);
    if (!ok)
        throw RejectedInput{};
    return v;
}

}  // namespace

// ---- owner-drawn lists ----------------------------------------------------

TOwnerDrawnComboBox::TOwnerDrawnComboBox(Kind kind, QWidget* parent)
    : QComboBox(parent), m_kind(kind)
{
    setItemDelegate(new TListItemDelegate(kind, this));
    if (kind == StyleList) {
        for (int i = 0; i < 5; ++i)
            addItem(QString::fromLatin1(kListStyles[i]), i);
    } else {
        for (const NamedColor& c : kListColors)
            addItem(QString::fromLatin1(c.Name), c.Value);
    }
    setMinimumWidth(90);
}

void TOwnerDrawnComboBox::PaintItem(QPainter& painter, const QRect& rect, Kind kind, int index,
                                    bool selected)
{
    painter.save();
    const QColor border = selected ? QColor(Qt::black) : QColor(Qt::white);
    const QRect box = rect.adjusted(0, 0, -1, -1);
    if (kind == StyleList) {
        painter.setPen(border);
        painter.setBrush(Qt::white);
        painter.drawRect(box);
        painter.setPen(QPen(Qt::black, 1, ListPenStyle(index)));
        const int y = rect.top() + rect.height() / 2;
        painter.drawLine(rect.left() + 1, y, rect.right() - 1, y);
    } else if (index >= 0 && index < 12) {
        painter.setPen(border);
        painter.setBrush(ColorFromValue(kListColors[index].Value));
        painter.drawRect(box);
    }
    painter.restore();
}

void TOwnerDrawnComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (currentIndex() >= 0)
        PaintItem(painter, field.adjusted(1, 1, -1, -1), m_kind, currentIndex(), hasFocus());
}

TListItemDelegate::TListItemDelegate(TOwnerDrawnComboBox::Kind kind, QObject* parent)
    : QStyledItemDelegate(parent), m_kind(kind)
{
}

void TListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    const bool selected = option.state & (QStyle::State_Selected | QStyle::State_HasFocus);
    TOwnerDrawnComboBox::PaintItem(*painter, option.rect, m_kind, index.row(), selected);
}

QSize TListItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return QSize(option.rect.width() > 0 ? option.rect.width() : 90, kItemHeight);
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (OnPaint)
        OnPaint(painter);
}

// ---- the dialog -----------------------------------------------------------

TDiagramPropertyDialog::TDiagramPropertyDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Diagrammeigenschaften"));
    setModal(true);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    buildCurvesPage();
    buildScalingPage();
    buildDrawingPage();

    btnTakeIt = new QPushButton(QStringLiteral("Übernehmen"), this);
    btnTakeIt->setObjectName(QStringLiteral("btnTakeIt"));
    btnTakeIt->setAutoDefault(false);
    Button1 = new QPushButton(QStringLiteral("Schließen"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    connect(btnTakeIt, &QPushButton::clicked, this, &TDiagramPropertyDialog::btnTakeItClick);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnTakeIt);
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);
}

void TDiagramPropertyDialog::buildCurvesPage()
{
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    cbCurves2 = new QComboBox(TabSheet1);
    cbCurves2->setObjectName(QStringLiteral("cbCurves2"));
    btnRemoveCurve = new QPushButton(QStringLiteral("Löschen"), TabSheet1);
    btnRemoveCurve->setObjectName(QStringLiteral("btnRemoveCurve"));
    btnRemoveCurve->setAutoDefault(false);
    auto* panel = new QFrame(TabSheet1);
    panel->setObjectName(QStringLiteral("Panel2"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LineViewPaintBox = new TPaintBox(panel);
    LineViewPaintBox->setObjectName(QStringLiteral("LineViewPaintBox"));
    LineViewPaintBox->setFixedSize(137, 21);
    LineViewPaintBox->OnPaint = [this](QPainter& p) { LineViewPaintBoxPaint(p); };
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    panelLayout->addWidget(LineViewPaintBox);

    auto* layout = new QGridLayout(TabSheet1);
    layout->addWidget(new QLabel(QStringLiteral("Kurve"), TabSheet1), 0, 0);
    layout->addWidget(cbCurves2, 1, 0, 1, 2);
    layout->addWidget(btnRemoveCurve, 2, 1);
    layout->addWidget(panel, 3, 0, Qt::AlignLeft);
    layout->setRowStretch(4, 1);
    PageControl1->addTab(TabSheet1, QStringLiteral("Kurven"));

    connect(cbCurves2, &QComboBox::activated, this, [this] { CurveRefresh(); });
    connect(btnRemoveCurve, &QPushButton::clicked, this,
            &TDiagramPropertyDialog::btnRemoveCurveClick);
}

void TDiagramPropertyDialog::buildScalingPage()
{
    scalaSetupSheet = new QWidget;
    scalaSetupSheet->setObjectName(QStringLiteral("scalaSetupSheet"));
    QWidget* s = scalaSetupSheet;

    auto* valueGroup = new QGroupBox(QStringLiteral("Meßwerte-Achse"), s);
    rbAxis_V = new QRadioButton(QStringLiteral("V"), valueGroup);
    rbAxis_V->setObjectName(QStringLiteral("rbAxis_V"));
    rbAxis_mA = new QRadioButton(QStringLiteral("mA"), valueGroup);
    rbAxis_mA->setObjectName(QStringLiteral("rbAxis_mA"));
    // Both may be unchecked (capacity axis active), so exclusivity is kept by hand.
    rbAxis_V->setAutoExclusive(false);
    rbAxis_mA->setAutoExclusive(false);
    edYStart = MakeEdit(QStringLiteral("edYStart"), QStringLiteral("0"), 0, valueGroup);
    edYEnd = MakeEdit(QStringLiteral("edYEnd"), QStringLiteral("0"), 0, valueGroup);
    udYSegments = MakeUpDown(QStringLiteral("udYSegments"), 1, 10, 1, valueGroup);
    udYSubSegments = MakeUpDown(QStringLiteral("udYSubSegments"), 1, 10, 1, valueGroup);
    auto* vg = new QGridLayout(valueGroup);
    vg->addWidget(rbAxis_V, 0, 0);
    vg->addWidget(rbAxis_mA, 0, 1);
    vg->addWidget(new QLabel(QStringLiteral("Start"), valueGroup), 1, 0);
    vg->addWidget(edYStart, 1, 1);
    vg->addWidget(new QLabel(QStringLiteral("Ende"), valueGroup), 2, 0);
    vg->addWidget(edYEnd, 2, 1);
    vg->addWidget(new QLabel(QStringLiteral("Abschnitte - grob"), valueGroup), 3, 0);
    vg->addWidget(udYSegments, 3, 1);
    vg->addWidget(new QLabel(QStringLiteral("Abschnitte - fein"), valueGroup), 4, 0);
    vg->addWidget(udYSubSegments, 4, 1);

    auto* timeGroup = new QGroupBox(QStringLiteral("Zeitachse"), s);
    edXStartH = MakeEdit(QStringLiteral("edXStartH"), QStringLiteral("000"), 3, timeGroup);
    edXStartM = MakeEdit(QStringLiteral("edXStartM"), QStringLiteral("00"), 2, timeGroup);
    edXStartS = MakeEdit(QStringLiteral("edXStartS"), QStringLiteral("00"), 3, timeGroup);
    edXEndH = MakeEdit(QStringLiteral("edXEndH"), QStringLiteral("000"), 3, timeGroup);
    edXEndM = MakeEdit(QStringLiteral("edXEndM"), QStringLiteral("00"), 2, timeGroup);
    edXEndS = MakeEdit(QStringLiteral("edXEndS"), QStringLiteral("00"), 3, timeGroup);
    udXSegments = MakeUpDown(QStringLiteral("udXSegments"), 1, 10, 1, timeGroup);
    udXSubSegments = MakeUpDown(QStringLiteral("udXSubSegments"), 1, 10, 1, timeGroup);
    auto* tg = new QGridLayout(timeGroup);
    tg->addWidget(new QLabel(QStringLiteral("Std."), timeGroup), 0, 1);
    tg->addWidget(new QLabel(QStringLiteral("Min."), timeGroup), 0, 3);
    tg->addWidget(new QLabel(QStringLiteral("Sek."), timeGroup), 0, 5);
    auto addTimeRow = [&](int row, const QString& caption, QLineEdit* h, QLineEdit* m,
                          QLineEdit* sec) {
        tg->addWidget(new QLabel(caption, timeGroup), row, 0);
        tg->addWidget(h, row, 1);
        tg->addWidget(new QLabel(QStringLiteral(":"), timeGroup), row, 2);
        tg->addWidget(m, row, 3);
        tg->addWidget(new QLabel(QStringLiteral(":"), timeGroup), row, 4);
        tg->addWidget(sec, row, 5);
    };
    addTimeRow(1, QStringLiteral("Start"), edXStartH, edXStartM, edXStartS);
    addTimeRow(2, QStringLiteral("Ende"), edXEndH, edXEndM, edXEndS);
    tg->addWidget(new QLabel(QStringLiteral("grob"), timeGroup), 3, 0);
    tg->addWidget(udXSegments, 3, 1, 1, 2);
    tg->addWidget(new QLabel(QStringLiteral("fein"), timeGroup), 3, 3);
    tg->addWidget(udXSubSegments, 3, 4, 1, 2);

    auto* layout = new QVBoxLayout(s);
    layout->addWidget(valueGroup);
    layout->addWidget(timeGroup);
    layout->addStretch();
    PageControl1->addTab(s, QStringLiteral("Skalierung"));

    connect(rbAxis_V, &QRadioButton::clicked, this, &TDiagramPropertyDialog::rbAxis_VClick);
    connect(rbAxis_mA, &QRadioButton::clicked, this, &TDiagramPropertyDialog::rbAxis_mAClick);
}

void TDiagramPropertyDialog::buildDrawingPage()
{
    curveSetupSheet = new QWidget;
    curveSetupSheet->setObjectName(QStringLiteral("curveSetupSheet"));
    QWidget* s = curveSetupSheet;
    cbCurves = new QComboBox(s);
    cbCurves->setObjectName(QStringLiteral("cbCurves"));

    PageControl2 = new QTabWidget(s);
    PageControl2->setObjectName(QStringLiteral("PageControl2"));
    PageControl2->setTabPosition(QTabWidget::South);
    auto makePhasePage = [&](const QString& objectName, const QString& caption,
                             const QString& prefix, TOwnerDrawnComboBox*& style,
                             TOwnerDrawnComboBox*& color, QSpinBox*& width) {
        auto* page = new QWidget;
        page->setObjectName(objectName);
        style = new TOwnerDrawnComboBox(TOwnerDrawnComboBox::StyleList, page);
        style->setObjectName(QStringLiteral("cb%1LineStyle").arg(prefix));
        color = new TOwnerDrawnComboBox(TOwnerDrawnComboBox::ColorList, page);
        color->setObjectName(QStringLiteral("cb%1LineColor").arg(prefix));
        width = MakeUpDown(QStringLiteral("ud%1LineWidth").arg(prefix), 0, 4, 1, page);
        auto* grid = new QGridLayout(page);
        grid->addWidget(new QLabel(QStringLiteral("Stil"), page), 0, 0);
        grid->addWidget(style, 0, 1);
        grid->addWidget(new QLabel(QStringLiteral("Farbe"), page), 1, 0);
        grid->addWidget(color, 1, 1);
        grid->addWidget(new QLabel(QStringLiteral("Strichstärke"), page), 2, 0);
        grid->addWidget(width, 2, 1);
        PageControl2->addTab(page, caption);

        // Only solid lines can be wider than one pixel.
        QSpinBox* widthBox = width;
        TOwnerDrawnComboBox* styleBox = style;
        connect(style, &QComboBox::activated, this, [widthBox](int index) {
            if (index != psSolid)
                widthBox->setValue(1);
        });
        connect(width, &QSpinBox::valueChanged, this, [styleBox](int value) {
            if (value != 1)
                styleBox->setCurrentIndex(psSolid);
        });
    };
    makePhasePage(QStringLiteral("TabSheet3"), QStringLiteral("Entladen"),
                  QStringLiteral("Discharge"), cbDischargeLineStyle, cbDischargeLineColor,
                  udDischargeLineWidth);
    makePhasePage(QStringLiteral("TabSheet4"), QStringLiteral("Laden"), QStringLiteral("Charge"),
                  cbChargeLineStyle, cbChargeLineColor, udChargeLineWidth);

    auto* group = new QGroupBox(s);
    group->setObjectName(QStringLiteral("RadioGroup1"));
    rbOverlapPhases = new QRadioButton(QStringLiteral("übereinander"), group);
    rbOverlapPhases->setObjectName(QStringLiteral("rbOverlapPhases"));
    rbDontOverlapPhases = new QRadioButton(QStringLiteral("nacheinander"), group);
    rbDontOverlapPhases->setObjectName(QStringLiteral("rbDontOverlapPhases"));
    rbDontOverlapPhases->setChecked(true);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(rbOverlapPhases);
    groupLayout->addWidget(rbDontOverlapPhases);

    auto* layout = new QVBoxLayout(s);
    layout->addWidget(new QLabel(QStringLiteral("Kurve"), s));
    layout->addWidget(cbCurves);
    layout->addWidget(PageControl2);
    layout->addWidget(group);
    layout->addStretch();
    PageControl1->addTab(s, QStringLiteral("Zeichnen"));

    connect(cbCurves, &QComboBox::activated, this, [this] { CurveRefresh(); });
}

void TDiagramPropertyDialog::SetDiagram(TDiagramForm* form)
{
    m_form = form;
    m_chart = form ? form->Chart() : nullptr;
}

void TDiagramPropertyDialog::SelectPage(Page page)
{
    PageControl1->setCurrentIndex(page);
}

TDiagramPropertyDialog::Page TDiagramPropertyDialog::CurrentPage() const
{
    return static_cast<Page>(PageControl1->currentIndex());
}

void TDiagramPropertyDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TDiagramPropertyDialog::FormShow()
{
    if (!m_chart)
        return;
    cbCurves->clear();
    cbCurves2->clear();
    // Names go in at the top, so both lists read in descending order.
    m_chart->FirstCurve();
    for (int i = 0; i < m_chart->CurveCount(); ++i) {
        const QString name = m_chart->NextCurveName();
        cbCurves->insertItem(0, name);
        cbCurves2->insertItem(0, name);
    }
    if (m_chart->CurveCount() > 0) {
        cbCurves->setCurrentIndex(0);
        cbCurves2->setCurrentIndex(0);
        CurveRefresh();
    }
    const int active = m_chart->ActiveYAxis();
    rbAxis_V->setChecked(active == 0);
    rbAxis_mA->setChecked(active == 1);
    fillValueAxisControls(active);

    auto fillTime = [](double value, QLineEdit* h, QLineEdit* m, QLineEdit* s) {
        const long long t = static_cast<long long>(std::trunc(value));
        h->setText(QString::number(t / 3600));
        m->setText(QString::number((t % 3600) / 60));
        s->setText(QString::number(t % 60));
    };
    fillTime(m_chart->XAxisStartValue(), edXStartH, edXStartM, edXStartS);
    fillTime(m_chart->XAxisEndValue(), edXEndH, edXEndM, edXEndS);
    udXSegments->setValue(m_chart->XAxisNumSegments());
    udXSubSegments->setValue(m_chart->XAxisNumSubSegments());
}

void TDiagramPropertyDialog::fillValueAxisControls(int axisIndex)
{
    const Axis& a = m_chart->YAxis(axisIndex);
    const QLocale locale;
    edYStart->setText(locale.toString(a.StartValue, 'g', 15).remove(locale.groupSeparator()));
    edYEnd->setText(locale.toString(a.EndValue, 'g', 15).remove(locale.groupSeparator()));
    udYSegments->setValue(a.NumSegments);
    udYSubSegments->setValue(a.NumSubSegments);
}

void TDiagramPropertyDialog::CurveRefresh()
{
    if (!m_chart || cbCurves->currentText().isEmpty())
        return;
    const Curve* curve = m_chart->GetCurve(cbCurves->currentText());
    if (!curve)
        return;
    cbDischargeLineStyle->setCurrentIndex(StyleListIndex(curve->Styles[0].Style));
    cbDischargeLineColor->setCurrentIndex(ColorListIndex(curve->Styles[0].Color));
    udDischargeLineWidth->setValue(curve->Styles[0].Width);
    cbChargeLineStyle->setCurrentIndex(StyleListIndex(curve->Styles[1].Style));
    cbChargeLineColor->setCurrentIndex(ColorListIndex(curve->Styles[1].Color));
    udChargeLineWidth->setValue(curve->Styles[1].Width);
    rbOverlapPhases->setChecked(curve->OverlapPhases);
    rbDontOverlapPhases->setChecked(!curve->OverlapPhases);
    LineViewPaintBox->update();
}

void TDiagramPropertyDialog::LineViewPaintBoxPaint(QPainter& painter)
{
    if (!m_chart || cbCurves->currentText().isEmpty())
        return;
    const Curve* curve = m_chart->GetCurve(cbCurves->currentText());
    if (!curve)
        return;
    const int w = LineViewPaintBox->width();
    const int y = LineViewPaintBox->height() / 2;
    painter.setPen(LinePen(curve->Styles[0]));
    painter.drawLine(0, y, w / 2, y);
    painter.setPen(LinePen(curve->Styles[1]));
    painter.drawLine(w / 2, y, w, y);
}

void TDiagramPropertyDialog::btnRemoveCurveClick()
{
    if (cbCurves2->currentText().isEmpty())
        return;
    const QString name = cbCurves2->currentText();
    cbCurves2->removeItem(cbCurves2->currentIndex());
    cbCurves2->setCurrentIndex(cbCurves2->count() > 0 ? 0 : -1);
    const int other = cbCurves->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (other >= 0)
        cbCurves->removeItem(other);
    cbCurves->setCurrentIndex(cbCurves->count() > 0 ? 0 : -1);
    CurveRefresh();
    if (m_form)
        m_form->RemoveServiceCurve(name);
    if (m_chart)
        m_chart->update();
    LineViewPaintBox->update();
}

void TDiagramPropertyDialog::rbAxis_VClick()
{
    rbAxis_V->setChecked(true);
    rbAxis_mA->setChecked(false);
    if (m_chart)
        fillValueAxisControls(0);
}

void TDiagramPropertyDialog::rbAxis_mAClick()
{
    rbAxis_mA->setChecked(true);
    rbAxis_V->setChecked(false);
    if (m_chart)
        fillValueAxisControls(1);
}

void TDiagramPropertyDialog::btnTakeItClick()
{
    if (!m_chart)
        return;
    const QWidget* page = PageControl1->currentWidget();
    if (page == curveSetupSheet)
        applyDrawing();
    else if (page == scalaSetupSheet)
        applyScaling();
}

void TDiagramPropertyDialog::applyDrawing()
{
    if (cbCurves->currentText().isEmpty())
        return;
    Curve* curve = m_chart->GetCurve(cbCurves->currentText());
    if (!curve)
        return;
    auto styleFrom = [](const QComboBox* color, const QComboBox* style, const QSpinBox* width) {
        LineStyle s;
        s.Color = kListColors[std::max(0, color->currentIndex())].Value;
        s.Style = static_cast<uint8_t>(std::max(0, style->currentIndex()));
        s.Width = width->value();
        return s;
    };
    curve->Styles[0] = styleFrom(cbDischargeLineColor, cbDischargeLineStyle, udDischargeLineWidth);
    curve->Styles[1] = styleFrom(cbChargeLineColor, cbChargeLineStyle, udChargeLineWidth);
    if (rbOverlapPhases->isChecked() != curve->OverlapPhases) {
        curve->OverlapPhases = rbOverlapPhases->isChecked();
        m_chart->Changed();  // the cached points depend on it
    }
    m_chart->update();
    LineViewPaintBox->update();
}

void TDiagramPropertyDialog::applyScaling()
{
    if (rbAxis_V->isChecked())
        m_chart->SetActiveYAxis(0);
    else if (rbAxis_mA->isChecked())
        m_chart->SetActiveYAxis(1);
    try {
        const double start = ParseNumber(edYStart);
        const double end = ParseNumber(edYEnd);
        const double step = (end - start) / udYSegments->value();
        if (!(step > 0.001))
            throw RejectedInput{};
        const int tStart = ParseInteger(edXStartH) * 3600 + ParseInteger(edXStartM) * 60
                           + ParseInteger(edXStartS);
        const int tEnd =
            ParseInteger(edXEndH) * 3600 + ParseInteger(edXEndM) * 60 + ParseInteger(edXEndS);
        const double tStep = static_cast<double>(tEnd - tStart) / udXSegments->value();
        if (!(tStep >= 1.0))
            throw RejectedInput{};

        m_chart->AnnounceZooming();
        m_chart->SetYAxisStartValue(start);
        m_chart->SetYAxisEndValue(end);
        m_chart->SetYAxisNumSegments(udYSegments->value());
        m_chart->SetYAxisNumSubSegments(udYSubSegments->value());
        m_chart->AutoYAxisDigits(step);
        m_chart->SetXAxisStartValue(tStart);
        m_chart->SetXAxisEndValue(tEnd);
        m_chart->SetXAxisNumSegments(udXSegments->value());
        m_chart->SetXAxisNumSubSegments(udXSubSegments->value());
        m_chart->AutoXAxisDigits(tStep);
        m_chart->update();
        LineViewPaintBox->update();
    } catch (const RejectedInput&) {
        QApplication::beep();
        emit InputRejected();
    }
}
