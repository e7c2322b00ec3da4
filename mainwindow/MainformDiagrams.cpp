// The main window's diagram commands.

#include "Mainform.h"

#include "diagrams/Diagform.h"

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

[[noreturn]] void NotAvailable(const char *command)
{
    throw std::logic_error(std::string(command) + ": nicht verfügbar");
}

}  // namespace

void TMainForm::SetDiagramCommands(TDiagramCommands *commands)
{
    diagramCommands_ = commands;
    ScheduleUpdateMenus();
}

bool TMainForm::ActiveDiagramCanZoomBack() const
{
    const TDiagramForm *form = DiagramOnPage(DiagramTab->currentWidget());
    return form && form->ZoomStackSize() > 0;
}

std::vector<LiveSampleSink *> TMainForm::DiagramWindows()
{
    std::vector<LiveSampleSink *> windows;
    for (int page = 0; page < DiagramTab->count(); ++page) {
        if (TDiagramForm *form = DiagramOnPage(DiagramTab->widget(page)))
            windows.push_back(form);
    }
    return windows;
}

void TMainForm::MenuExportDiagramClick() { NotAvailable("Diagramm exportieren"); }
void TMainForm::MenuPrintDiagramClick() { NotAvailable("Diagramm drucken"); }
void TMainForm::MenuCopyDiagramClick() { NotAvailable("Diagramm kopieren"); }
void TMainForm::MenuNewDiagramClick() { NotAvailable("neues Diagramm"); }
void TMainForm::MenuOpenDiagramClick() { NotAvailable("Diagramm öffnen"); }
void TMainForm::MenuSaveDiagramClick() { NotAvailable("Diagramm speichern"); }
void TMainForm::MenuCloseDiagramClick() { NotAvailable("Diagramm schließen"); }
void TMainForm::MenuCloseAllDiagramsClick() { NotAvailable("Diagramme schließen"); }
void TMainForm::MenuSetupDiagramClick() { NotAvailable("Diagramm-Einstellungen"); }
void TMainForm::MenuZoomBackClick() { NotAvailable("Zoomstufe"); }
void TMainForm::MenuShowVoltageClick() { NotAvailable("Spannungskurve"); }
void TMainForm::MenuShowCurrentClick() { NotAvailable("Stromkurve"); }
void TMainForm::PopupMenuCloseDiagramClick() { NotAvailable("Diagramm schließen"); }
void TMainForm::PopupMenuPrintDiagramClick() { NotAvailable("Diagramm drucken"); }
void TMainForm::PopupMenuDiagramCurvePropsClick() { NotAvailable("Kurven"); }
void TMainForm::PopupMenuDiagramScalaPropsClick() { NotAvailable("Skalieren"); }
void TMainForm::PopupMenuDiagramPaintPropsClick() { NotAvailable("Zeichnen"); }
