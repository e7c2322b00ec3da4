#pragma once
// TDiagramCommands: the diagram documents behind the main window's diagram
// commands. Creates, opens, saves, closes, prints, copies and exports the
// diagram pages of the main window's DiagramTab, opens the property dialog
// for the active one and adds the curves of the selected treatment. Failures
// are thrown (DiagramError or DatabaseError); the main window's handlers turn
// them into their one failure message. File dialogs stay with the main window:
// the operations here take the chosen path.

#include "diagrams/Diagpropdlg.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <stdexcept>
#include <vector>

class LiveSampleSink;
class QMenu;
class QPainter;
class QPrinter;
class QTabWidget;
class TBRASKDataModule;
class TDiagramForm;

class DiagramError : public std::runtime_error
{
public:
    explicit DiagramError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

class TDiagramCommands : public QObject
{
    Q_OBJECT

public:
    // Filters for the main window's file dialogs.
    static const QString DiagramFileFilter;  // "Diagramm-Dateien (*.dgr *.DGR)"
    static const QString BitmapFileFilter;   // "Bitmap-Dateien (*.bmp *.BMP)"

    // What a diagram file may hold. Larger files, segment counts, decimals
    // or line widths, and axis values the chart cannot draw
    // (ChartGeometry::IsSaneAxisValue) are refused when the file is read.
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    static constexpr int MaxSegments = 100;
    static constexpr int MaxDigits = 15;
    static constexpr int MaxLineWidth = 20;

    TDiagramCommands(QTabWidget* diagramTab, QMenu* popupDiagrams, TBRASKDataModule* dataModule,
                     TDiagramPropertyDialog* propertyDialog, QObject* parent = nullptr);

    // New page "Diagramm<n>"; n counts up for the whole run, never reused.
    TDiagramForm* NewDiagram();
    void CloseActiveDiagram();
    void CloseAllDiagrams();

    // The property dialog for the active diagram, modal; nothing without one.
    // The plain command leaves the dialog on the page it showed last, the
    // popup entries ("Kurven", "Skalieren", "Zeichnen") choose theirs.
    void ShowDiagramProperties();
    void ShowDiagramProperties(TDiagramPropertyDialog::Page page);

    // Diagram file lines of the active diagram (nothing without one).
    void SaveDiagram(QStringList& lines) const;
    // Applies diagram file lines to the active diagram; throws DiagramError
    // at a value that is not a number (lines before it stay applied).
    void LoadDiagram(const QStringList& lines);
    // Open: a new page loaded from the file; on any failure the new page is
    // removed again and the failure thrown.
    TDiagramForm* OpenDiagramFile(const QString& path);
    // Save: the active diagram's lines into the file (replaced as a whole;
    // an empty file when there is no diagram).
    void SaveDiagramFile(const QString& path) const;
    static QStringList ReadDiagramLines(const QString& path);
    static void WriteDiagramLines(const QString& path, const QStringList& lines);

    // Print with title and legend on the default printer, or on the given
    // one (any QPrinter, PDF output included).
    void PrintDiagram(const QFont& font);
    void PrintDiagram(QPrinter& printer, const QFont& font);
    // The printed page of the active diagram on any canvas of the given
    // resolution: title, chart (1 inch from the left, 1.5 from the top,
    // 6 x 4 inches) and legend.
    void PaintDiagramPage(QPainter& painter, int pixelsPerInch, const QFont& font);
    // The active chart as a bitmap on the clipboard.
    void CopyDiagram();
    // The active chart as a BMP file of the chart's size.
    void ExportDiagram(const QString& path);

    // Adds the selected treatment's curve (unit 0 voltage, 1 current) to the
    // active diagram, creating a page when there is none. A new diagram, or
    // one whose axes still follow the data, is scaled to its curves' data.
    void ShowCurveOfCurrentService(int unit);
    // "Alles zeigen": the active diagram scaled to its curves' data.
    void ShowAll();

    TDiagramForm* ActiveDiagram() const;
    QString ActiveDiagramCaption() const;
    bool HasPreviousZoom() const;
    void ZoomBack();
    // The on-screen legend of the active diagram (kept in its file as
    // "Legend"); false and nothing to switch without a diagram.
    bool ActiveLegendVisible() const;
    void ToggleLegend();
    // Diagram windows in page order (the tick hands them the live samples).
    std::vector<TDiagramForm*> DiagramWindows() const;
    std::vector<LiveSampleSink*> LiveSampleSinks() const;
    int DiagramCount() const;

signals:
    // A diagram window saved a scaling; zoom back may be enabled.
    void ZoomBackAvailable();
    // A curve's samples could not be read (the German text says which and why).
    void CurveLoadFailed(const QString& message);

private:
    QPointer<QTabWidget> m_diagramTab;
    QPointer<QMenu> m_popupDiagrams;
    TBRASKDataModule* m_dataModule;
    QPointer<TDiagramPropertyDialog> m_propertyDialog;
    int m_diagramCounter = 0;
};
