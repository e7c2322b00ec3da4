#pragma once
// Which of the main window's commands can be given, decided from what the
// window shows and holds, without any widget: the window gathers the inputs,
// the actions take the answer. Menu bar, toolbar and context menus share one
// action per command, so one answer enables all places that offer it.

#include <bitset>
#include <cstddef>

enum class Command {
    ExportDiagram, ExportTable, ExportInfo, ExportProtocol, ExportSamples,
    PrintDiagram, PrintTable, PrintInfo, PrintProtocol,
    PdfDiagram, PdfTable, PdfInfo, PdfProtocol,
    PrinterSetup, Quit,
    CopyDiagram, CopyTable, CopyInfo, CopyProtocol,
    ShowDiagrams, ShowControls, ShowDB, NextList, PreviousList, Refresh,
    NewDiagram, OpenDiagram, SaveDiagram, CloseDiagram, CloseAllDiagrams, SetupDiagram, ZoomBack, ShowAll,
    DiagramLegend, DiagramCurveProps, DiagramScalaProps, DiagramPaintProps,
    GotoAkkus, Search, NewAkku, DeleteAkku, History, DeleteService, ShowVoltage, ShowCurrent,
    StartService, StopService, Options, Kestrix, Info,
};
constexpr std::size_t CommandCount = std::size_t(Command::Info) + 1;

// What the window holds and shows when the commands are decided.
struct CommandInputs {
    enum class ListPage { Batteries, Services, Steps };
    // Rows in the three lists (the lists decide, not the whole tables: a
    // battery without records offers no record to delete).
    int batteries = 0, services = 0, steps = 0;
    // The database may be changed (not a read-only file or role).
    bool writable = false;
    // A treatment is under way for the selected battery resp. record.
    bool batteryInTreatment = false, serviceInTreatment = false;
    ListPage page = ListPage::Batteries;
    // The view switches of the diagram and database areas.
    bool diagramsShown = true, databaseShown = true;
    int diagrams = 0;
    bool canZoomBack = false;
    // A treatment page is active and its stop is not under way yet.
    bool stoppablePage = false;
};

class CommandState {
public:
    explicit CommandState(const CommandInputs &inputs);
    bool Enabled(Command command) const { return enabled_[std::size_t(command)]; }

private:
    void Set(std::initializer_list<Command> commands, bool enabled);
    std::bitset<CommandCount> enabled_;
};
