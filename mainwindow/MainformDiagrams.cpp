// The main window's diagram commands.

#include "mainwindow/Mainform.h"
#include "mainwindow/RichiePrinter.h"

#include "diagrams/Diagdocs.h"
#include "diagrams/Diagform.h"

#include <QAction>
#include <QFileDialog>

#include <QTabWidget>

#include <stdexcept>

namespace {

TDiagramForm *DiagramOnPage(QWidget *page)
{
    if (!page)
        return nullptr;
    if (auto *form = qobject_cast<TDiagramForm *>(page))
        return form;
    return page->findChild<TDiagramForm *>();
}

}  // namespace

void TMainForm::SetDiagramCommands(TDiagramCommands *commands)
{
    diagramCommands_ = commands;
    if (commands) {
        connect(commands, &TDiagramCommands::ZoomBackAvailable, this, &TMainForm::ScheduleUpdateMenus);
        // Curves load beside the window; a failure is told when it happens.
        connect(commands, &TDiagramCommands::CurveLoadFailed, this,
                [this](const QString &message) { ShowCommandFailure(message); });
    }
    ScheduleUpdateMenus();
}

bool TMainForm::ActiveDiagramCanZoomBack() const
{
    if (diagramCommands_)
        return diagramCommands_->HasPreviousZoom();
    const TDiagramForm *form = DiagramOnPage(DiagramTab->currentWidget());
    return form && form->ZoomStackSize() > 0;
}

std::vector<LiveSampleSink *> TMainForm::DiagramWindows()
{
    if (diagramCommands_)
        return diagramCommands_->LiveSampleSinks();
    std::vector<LiveSampleSink *> windows;
    for (int page = 0; page < DiagramTab->count(); ++page) {
        if (TDiagramForm *form = DiagramOnPage(DiagramTab->widget(page)))
            windows.push_back(form);
    }
    return windows;
}

namespace {

// A file dialog with an empty name and a default extension, starting in the
// folder chosen last for that kind of file; empty when cancelled.
QString AskFileName(TMainForm *parent, QFileDialog::AcceptMode mode, const QString &filter, const QString &suffix,
                    const QString &kind)
{
    QFileDialog dialog(parent);
    dialog.setDirectory(parent->LastFolder(kind));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    parent->RememberFolder(kind, dialog.selectedFiles().constFirst());
    return dialog.selectedFiles().constFirst();
}

}  // namespace

TDiagramCommands &TMainForm::Diagrams() const
{
    if (!diagramCommands_)
        throw std::logic_error("diagram commands missing");
    return *diagramCommands_;
}

void TMainForm::MenuNewDiagramClick()
{
    Diagrams().NewDiagram();
}

void TMainForm::MenuOpenDiagramClick()
{
    const QString path = AskFileName(this, QFileDialog::AcceptOpen, TDiagramCommands::DiagramFileFilter,
                                     QStringLiteral("dgr"), QStringLiteral("diagrams"));
    if (!path.isEmpty())
        Diagrams().OpenDiagramFile(path);
}

void TMainForm::MenuSaveDiagramClick()
{
    const QString path = AskFileName(this, QFileDialog::AcceptSave, TDiagramCommands::DiagramFileFilter,
                                     QStringLiteral("dgr"), QStringLiteral("diagrams"));
    if (!path.isEmpty())
        Diagrams().SaveDiagramFile(path);
}

void TMainForm::MenuExportDiagramClick()
{
    const QString path = AskFileName(this, QFileDialog::AcceptSave, TDiagramCommands::BitmapFileFilter,
                                     QStringLiteral("bmp"), QStringLiteral("export"));
    if (!path.isEmpty())
        Diagrams().ExportDiagram(path);
}

void TMainForm::MenuPrintDiagramClick()
{
    TDiagramCommands &diagrams = Diagrams();
    if (!diagrams.ActiveDiagram())
        return;
    RichiePrinter::RunJob(printer_, [&](QPrinter &printer) { diagrams.PrintDiagram(printer, font()); });
}

void TMainForm::PopupMenuPrintDiagramClick()
{
    MenuPrintDiagramClick();
}

void TMainForm::MenuPdfDiagramClick()
{
    TDiagramCommands &diagrams = Diagrams();
    if (!diagrams.ActiveDiagram())
        return;
    // The printed page: the same title, chart and legend as on paper.
    SaveAsPdf(diagrams.ActiveDiagramCaption(),
              [&](QPrinter &printer) { diagrams.PrintDiagram(printer, font()); });
}

void TMainForm::MenuCopyDiagramClick()
{
    Diagrams().CopyDiagram();
}

void TMainForm::MenuCloseDiagramClick()
{
    Diagrams().CloseActiveDiagram();
}

void TMainForm::PopupMenuCloseDiagramClick()
{
    MenuCloseDiagramClick();
}

void TMainForm::MenuCloseAllDiagramsClick()
{
    Diagrams().CloseAllDiagrams();
}

void TMainForm::MenuSetupDiagramClick()
{
    Diagrams().ShowDiagramProperties();
}

void TMainForm::PopupMenuDiagramCurvePropsClick()
{
    Diagrams().ShowDiagramProperties(TDiagramPropertyDialog::PageCurves);
}

void TMainForm::PopupMenuDiagramScalaPropsClick()
{
    Diagrams().ShowDiagramProperties(TDiagramPropertyDialog::PageScaling);
}

void TMainForm::PopupMenuDiagramPaintPropsClick()
{
    Diagrams().ShowDiagramProperties(TDiagramPropertyDialog::PageDrawing);
}

void TMainForm::MenuZoomBackClick()
{
    Diagrams().ZoomBack();
}

void TMainForm::MenuShowAllClick()
{
    Diagrams().ShowAll();
}

void TMainForm::MenuDiagramLegendClick()
{
    TDiagramCommands &diagrams = Diagrams();
    diagrams.ToggleLegend();
    // Both entries at once, not only the one that was clicked.
    for (QAction *action : {MenuDiagramLegend, PopupMenuDiagramLegend})
        action->setChecked(diagrams.ActiveLegendVisible());
}

void TMainForm::MenuShowVoltageClick()
{
    Diagrams().ShowCurveOfCurrentService(0);
}

void TMainForm::MenuShowCurrentClick()
{
    Diagrams().ShowCurveOfCurrentService(1);
}
