#include "diagrams/Diagdocs.h"

#include "diagrams/ChartGeometry.h"
#include "diagrams/ChartRenderer.h"
#include "diagrams/Diagform.h"

#include "database/Datamodule.h"

#include <QClipboard>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>
#include <cmath>
#include <memory>

const QString TDiagramCommands::DiagramFileFilter = QStringLiteral("Diagramm-Dateien (*.dgr *.DGR)");
const QString TDiagramCommands::BitmapFileFilter = QStringLiteral("Bitmap-Dateien (*.bmp *.BMP)");

namespace {

TDiagramForm* DiagramOnPage(QWidget* page)
{
    return page ? page->findChild<TDiagramForm*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

// Numbers in diagram files use the user's locale, without grouping.
QLocale FileLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

QString FileNumberText(double value)
{
    return FileLocale().toString(value, 'g', 15);
}

// Blanks and control characters at both ends are not part of a key or value.
QString TrimControls(const QString& text)
{
    int begin = 0;
    auto end = text.size();
    while (begin < end && text.at(begin).unicode() <= ' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

int IntegerValue(const QString& name, const QString& value, int line)
{
    bool ok = false;
    const int v = value.toInt(&ok, 10);
    if (!ok)
        throw DiagramError(QStringLiteral("Zeile %1: \"%2\" ist kein ganzzahliger Wert für %3")
                               .arg(line)
                               .arg(value, name));
    return v;
}

// An integer that must lie in [low, high]: segment counts of a million
// would make the chart lay out millions of ticks and labels.
int BoundedInteger(const QString& name, const QString& value, int line, int low, int high)
{
    const int v = IntegerValue(name, value, line);
    if (v < low || v > high)
        throw DiagramError(QStringLiteral("Zeile %1: %2 für %3 liegt außerhalb von %4 bis %5")
                               .arg(line)
                               .arg(value, name)
                               .arg(low)
                               .arg(high));
    return v;
}

double FloatValue(const QString& name, const QString& value, int line)
{
    bool ok = false;
    const double v = FileLocale().toDouble(value, &ok);
    if (!ok)
        throw DiagramError(QStringLiteral("Zeile %1: \"%2\" ist kein Zahlenwert für %3")
                               .arg(line)
                               .arg(value, name));
    // "inf", "nan" and absurd magnitudes would collapse every curve and label.
    if (!ChartGeometry::IsSaneAxisValue(v))
        throw DiagramError(QStringLiteral("Zeile %1: %2 für %3 liegt außerhalb von -%4 bis %4")
                               .arg(line)
                               .arg(value, name)
                               .arg(FileNumberText(ChartGeometry::MaxAxisValue)));
    return v;
}

struct StyleKey
{
    const char* Name;
    int Phase;
    enum Field { Color, Style, Width } Which;
};

const StyleKey kStyleKeys[] = {
    {"DischargeLineColor", 0, StyleKey::Color}, {"DischargeLineStyle", 0, StyleKey::Style},
    {"DischargeLineWidth", 0, StyleKey::Width}, {"ChargeLineColor", 1, StyleKey::Color},
    {"ChargeLineStyle", 1, StyleKey::Style},    {"ChargeLineWidth", 1, StyleKey::Width},
    {"WaitLineColor", 2, StyleKey::Color},      {"WaitLineStyle", 2, StyleKey::Style},
    {"WaitLineWidth", 2, StyleKey::Width},
};

}  // namespace

TDiagramCommands::TDiagramCommands(QTabWidget* diagramTab, QMenu* popupDiagrams,
                                   TBRASKDataModule* dataModule,
                                   TDiagramPropertyDialog* propertyDialog, QObject* parent)
    : QObject(parent),
      m_diagramTab(diagramTab),
      m_popupDiagrams(popupDiagrams),
      m_dataModule(dataModule),
      m_propertyDialog(propertyDialog)
{
}

TDiagramForm* TDiagramCommands::NewDiagram()
{
    ++m_diagramCounter;
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new TDiagramForm(m_dataModule, page);
    form->SetPopupMenu(m_popupDiagrams);
    layout->addWidget(form);
    connect(form, &TDiagramForm::ZoomBackAvailable, this, &TDiagramCommands::ZoomBackAvailable);
    connect(form, &TDiagramForm::CurveLoadFailed, this, &TDiagramCommands::CurveLoadFailed);
    const int index =
        m_diagramTab->addTab(page, QStringLiteral("Diagramm%1").arg(m_diagramCounter));
    m_diagramTab->setCurrentIndex(index);
    return form;
}

void TDiagramCommands::CloseActiveDiagram()
{
    QWidget* page = m_diagramTab->currentWidget();
    if (!page)
        return;
    m_diagramTab->removeTab(m_diagramTab->indexOf(page));
    delete page;  // the page owns its diagram window
    if (m_diagramTab->count() > 0)
        m_diagramTab->setCurrentIndex(0);
}

void TDiagramCommands::CloseAllDiagrams()
{
    while (m_diagramTab->count() > 0) {
        QWidget* page = m_diagramTab->widget(0);
        m_diagramTab->removeTab(0);
        delete page;
    }
}

void TDiagramCommands::ShowDiagramProperties()
{
    TDiagramForm* form = ActiveDiagram();
    if (!form || !m_propertyDialog)
        return;
    m_propertyDialog->SetDiagram(form);
    m_propertyDialog->exec();
}

void TDiagramCommands::ShowDiagramProperties(TDiagramPropertyDialog::Page page)
{
    if (m_propertyDialog)
        m_propertyDialog->SelectPage(page);
    ShowDiagramProperties();
}

void TDiagramCommands::SaveDiagram(QStringList& lines) const
{
    const TDiagramForm* form = ActiveDiagram();
    if (!form)
        return;
    TMultiChart& c = *form->Chart();
    lines << QStringLiteral("ActiveYAxis=%1").arg(c.ActiveYAxis())
          << QStringLiteral("YAxisStartValue=") + FileNumberText(c.YAxisStartValue())
          << QStringLiteral("YAxisEndValue=") + FileNumberText(c.YAxisEndValue())
          << QStringLiteral("YAxisDigits=%1").arg(c.YAxisDigits())
          << QStringLiteral("YAxisNumSegments=") + FileNumberText(c.YAxisNumSegments())
          << QStringLiteral("YAxisNumSubSegments=") + FileNumberText(c.YAxisNumSubSegments())
          << QStringLiteral("XAxisStartValue=") + FileNumberText(c.XAxisStartValue())
          << QStringLiteral("XAxisEndValue=") + FileNumberText(c.XAxisEndValue())
          << QStringLiteral("XAxisDigits=%1").arg(c.XAxisDigits())
          << QStringLiteral("XAxisNumSegments=") + FileNumberText(c.XAxisNumSegments())
          << QStringLiteral("XAxisNumSubSegments=") + FileNumberText(c.XAxisNumSubSegments());
    for (const QString& name : c.CurveNames()) {
        const TDiagramForm::CurveKey* key = form->FindCurveKeyByName(name);
        const Curve* curve = c.GetCurve(name);
        if (!key || !curve)
            continue;
        lines << QStringLiteral("Curve =%1").arg(key->ServiceID)
              << QStringLiteral("Unit =%1").arg(key->Kind);
        const char* prefixes[3] = {"Discharge", "Charge", "Wait"};
        for (int phase = 0; phase < 3; ++phase) {
            const LineStyle& s = curve->Styles[phase];
            const QString prefix = QString::fromLatin1(prefixes[phase]);
            lines << QStringLiteral("%1LineColor =%2").arg(prefix).arg(s.Color)
                  << QStringLiteral("%1LineStyle =%2").arg(prefix).arg(s.Style)
                  << QStringLiteral("%1LineWidth =%2").arg(prefix).arg(s.Width);
        }
        lines << QStringLiteral("OverlapPhases =%1").arg(curve->OverlapPhases ? 1 : 0);
    }
    // Only a hidden legend is written, so files of the default look stay as
    // older versions wrote them.
    if (!c.LegendVisible())
        lines << QStringLiteral("Legend=0");
}

void TDiagramCommands::LoadDiagram(const QStringList& lines)
{
    TDiagramForm* form = ActiveDiagram();
    if (!form)
        return;
    TMultiChart& c = *form->Chart();
    form->KeepScaling();  // the file's scaling, not the data's
    int serviceID = 0;
    Curve* current = nullptr;
    int lineNumber = 0;
    int known = 0;  // lines with a diagram key
    for (const QString& line : lines) {
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString name = TrimControls(line.left(eq));
        const QString value = TrimControls(line.mid(eq + 1));
        auto integer = [&] { return IntegerValue(name, value, lineNumber); };
        auto count = [&] {
            // Below 1 the chart draws one segment; above the limit it is refused.
            return BoundedInteger(name, value, lineNumber, INT_MIN, MaxSegments);
        };
        auto digits = [&] { return BoundedInteger(name, value, lineNumber, 0, MaxDigits); };
        auto real = [&] { return FloatValue(name, value, lineNumber); };

        ++known;
        if (name == QLatin1String("ActiveYAxis")) c.SetActiveYAxis(integer());
        else if (name == QLatin1String("YAxisStartValue")) c.SetYAxisStartValue(real());
        else if (name == QLatin1String("YAxisEndValue")) c.SetYAxisEndValue(real());
        else if (name == QLatin1String("YAxisDigits")) c.SetYAxisDigits(digits());
        else if (name == QLatin1String("YAxisNumSegments")) c.SetYAxisNumSegments(count());
        else if (name == QLatin1String("YAxisNumSubSegments")) c.SetYAxisNumSubSegments(count());
        else if (name == QLatin1String("XAxisStartValue")) c.SetXAxisStartValue(real());
        else if (name == QLatin1String("XAxisEndValue")) c.SetXAxisEndValue(real());
        else if (name == QLatin1String("XAxisDigits")) c.SetXAxisDigits(digits());
        else if (name == QLatin1String("XAxisNumSegments")) c.SetXAxisNumSegments(count());
        else if (name == QLatin1String("XAxisNumSubSegments")) c.SetXAxisNumSubSegments(count());
        else if (name == QLatin1String("Curve")) serviceID = integer();
        else if (name == QLatin1String("Unit")) current = form->AddServiceCurve(serviceID, integer());
        else if (name == QLatin1String("OverlapPhases")) {
            const int v = integer();
            if (current)
                current->OverlapPhases = v != 0;
        } else {
            bool isStyleKey = false;
            for (const StyleKey& key : kStyleKeys) {
                if (name != QLatin1String(key.Name))
                    continue;
                isStyleKey = true;
                int v = 0;
                switch (key.Which) {
                case StyleKey::Color: v = integer(); break;
                case StyleKey::Style: v = BoundedInteger(name, value, lineNumber, 0, psClear); break;
                case StyleKey::Width: v = BoundedInteger(name, value, lineNumber, 0, MaxLineWidth); break;
                }
                if (!current)
                    break;  // style lines before any curve
                LineStyle& s = current->Styles[key.Phase];
                switch (key.Which) {
                case StyleKey::Color: s.Color = v; break;
                case StyleKey::Style: s.Style = static_cast<uint8_t>(v); break;
                case StyleKey::Width: s.Width = v; break;
                }
                break;
            }
            if (name == QLatin1String("Legend"))
                c.SetLegendVisible(integer() != 0);
            else if (!isStyleKey)
                --known;  // any other name is ignored
        }
    }
    // Random bytes or a foreign text file would open as an empty diagram.
    if (known == 0)
        throw DiagramError(QStringLiteral("Die Datei enthält keine Diagrammeinträge"));
    c.Changed();  // OverlapPhases may have changed the cached points
    form->update();
}

QStringList TDiagramCommands::ReadDiagramLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw DiagramError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2")
                               .arg(path, file.errorString()));
    // A real diagram file has a few hundred bytes per curve; anything past the
    // limit is not one, and reading it would keep the window busy for minutes.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize)
        throw DiagramError(
            QStringLiteral("Die Datei \"%1\" ist zu groß für eine Diagrammdatei (höchstens %2 KB)")
                .arg(path)
                .arg(MaxFileSize / 1024));
    const QString text = QString::fromLocal8Bit(bytes);
    if (file.error() != QFileDevice::NoError)
        throw DiagramError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2")
                               .arg(path, file.errorString()));
    // Lines end in CR LF; a bare CR or LF is accepted as well.
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalized.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = normalized.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TDiagramCommands::WriteDiagramLines(const QString& path, const QStringList& lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw DiagramError(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                               .arg(path, file.errorString()));
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toLocal8Bit();
        bytes += "\r\n";
    }
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw DiagramError(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                               .arg(path, file.errorString()));
}

TDiagramForm* TDiagramCommands::OpenDiagramFile(const QString& path)
{
    TDiagramForm* form = NewDiagram();
    QWidget* page = m_diagramTab->currentWidget();
    try {
        LoadDiagram(ReadDiagramLines(path));
    } catch (...) {
        const int index = m_diagramTab->indexOf(page);
        if (index >= 0) {
            m_diagramTab->setCurrentIndex(index);
            CloseActiveDiagram();
        }
        throw;
    }
    return form;
}

void TDiagramCommands::SaveDiagramFile(const QString& path) const
{
    QStringList lines;
    SaveDiagram(lines);
    WriteDiagramLines(path, lines);
}

void TDiagramCommands::PrintDiagram(const QFont& font)
{
    if (!ActiveDiagram())
        return;
    QPrinter printer(QPrinter::HighResolution);  // the default printer
    if (!printer.isValid())
        throw DiagramError(QStringLiteral("Es ist kein Drucker eingerichtet"));
    PrintDiagram(printer, font);
}

void TDiagramCommands::PrintDiagram(QPrinter& printer, const QFont& font)
{
    if (!ActiveDiagram())
        return;
    QPainter painter;
    if (!painter.begin(&printer))
        throw DiagramError(QStringLiteral("Der Drucker kann nicht angesprochen werden"));
    PaintDiagramPage(painter, printer.logicalDpiY(), QFont(font, &printer));
    if (!painter.end())
        throw DiagramError(QStringLiteral("Der Druck ist fehlgeschlagen"));
}

void TDiagramCommands::PaintDiagramPage(QPainter& painter, int pixelsPerInch, const QFont& font)
{
    TDiagramForm* form = ActiveDiagram();
    if (!form)
        return;
    const int u = pixelsPerInch;
    painter.save();
    painter.setFont(font);
    const int fontHeight = QFontInfo(painter.font()).pixelSize();
    const int lineHeight = static_cast<int>(std::abs(fontHeight) * 1.5);
    const int bigText = 100 * u;

    painter.setPen(Qt::black);
    painter.drawText(QRect(u, u, bigText, bigText), Qt::AlignLeft | Qt::AlignTop,
                     ActiveDiagramCaption());
    TMultiChart& chart = *form->Chart();
    chart.PaintOnCanvas(painter, u, false);

    // Legend: discharge and charge line samples and the curve name.
    const double lineScale = std::max(1.0, u / 96.0);
    auto legendPen = [lineScale](const LineStyle& s) {
        QPen pen(ColorFromValue(s.Color), s.Width * lineScale);
        pen.setStyle(ChartRenderer::PenStyle(s.Style));
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        return pen;
    };
    int y = 6 * u;
    for (const QString& name : chart.CurveNames()) {
        const Curve* curve = chart.GetCurve(name);
        const int ym = y + lineHeight / 2;
        if (curve->Styles[0].Width != 0) {
            painter.setPen(legendPen(curve->Styles[0]));
            painter.drawLine(u, ym, static_cast<int>(1.5 * u), ym);
        }
        if (curve->Styles[1].Width != 0) {
            painter.setPen(legendPen(curve->Styles[1]));
            painter.drawLine(2 * u, ym, static_cast<int>(2.5 * u), ym);
        }
        painter.setPen(Qt::black);
        painter.drawText(QRect(4 * u, y, bigText, bigText), Qt::AlignLeft | Qt::AlignTop, name);
        y += lineHeight;
    }
    painter.restore();
}

void TDiagramCommands::CopyDiagram()
{
    TDiagramForm* form = ActiveDiagram();
    if (!form)
        return;
    QGuiApplication::clipboard()->setImage(form->Chart()->CopyToPicture(false));
}

void TDiagramCommands::ExportDiagram(const QString& path)
{
    TDiagramForm* form = ActiveDiagram();
    if (!form)
        return;
    const QImage picture = form->Chart()->CopyToPicture(false);
    if (!picture.save(path, "BMP"))
        throw DiagramError(
            QStringLiteral("Die Bitmap-Datei \"%1\" kann nicht geschrieben werden").arg(path));
}

void TDiagramCommands::ShowCurveOfCurrentService(int unit)
{
    TDiagramForm* form = ActiveDiagram();
    if (!form)
        form = NewDiagram();
    // A diagram opened for a recording shows all of it; one the user has
    // scaled keeps that scaling.
    const bool fit = form->FollowsData() || form->CurveKeys().empty();
    if (form->AddServiceCurve(m_dataModule->SelectedServiceID(), unit) && fit)
        form->FitToData();
}

void TDiagramCommands::ShowAll()
{
    if (TDiagramForm* form = ActiveDiagram())
        form->ShowAll();
}

TDiagramForm* TDiagramCommands::ActiveDiagram() const
{
    return m_diagramTab ? DiagramOnPage(m_diagramTab->currentWidget()) : nullptr;
}

QString TDiagramCommands::ActiveDiagramCaption() const
{
    if (!m_diagramTab || m_diagramTab->currentIndex() < 0)
        return QString();
    return m_diagramTab->tabText(m_diagramTab->currentIndex());
}

bool TDiagramCommands::HasPreviousZoom() const
{
    const TDiagramForm* form = ActiveDiagram();
    return form && form->ZoomStackSize() > 0;
}

bool TDiagramCommands::ActiveLegendVisible() const
{
    const TDiagramForm* form = ActiveDiagram();
    return form && form->Chart()->LegendVisible();
}

void TDiagramCommands::ToggleLegend()
{
    if (TDiagramForm* form = ActiveDiagram())
        form->Chart()->SetLegendVisible(!form->Chart()->LegendVisible());
}

void TDiagramCommands::ZoomBack()
{
    if (TDiagramForm* form = ActiveDiagram())
        form->ZoomBack();
}

std::vector<TDiagramForm*> TDiagramCommands::DiagramWindows() const
{
    std::vector<TDiagramForm*> windows;
    for (int i = 0; m_diagramTab && i < m_diagramTab->count(); ++i)
        if (TDiagramForm* form = DiagramOnPage(m_diagramTab->widget(i)))
            windows.push_back(form);
    return windows;
}

std::vector<LiveSampleSink*> TDiagramCommands::LiveSampleSinks() const
{
    std::vector<LiveSampleSink*> sinks;
    for (TDiagramForm* form : DiagramWindows())
        sinks.push_back(form);
    return sinks;
}

int TDiagramCommands::DiagramCount() const
{
    return m_diagramTab ? m_diagramTab->count() : 0;
}
