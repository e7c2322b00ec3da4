#include "mainwindow/CommandState.h"

CommandState::CommandState(const CommandInputs &in)
{
    using C = Command;
    using Page = CommandInputs::ListPage;
    Set({C::PrinterSetup, C::Quit, C::ShowDiagrams, C::ShowControls, C::ShowDB, C::NextList, C::PreviousList,
         C::Refresh, C::NewDiagram, C::OpenDiagram, C::GotoAkkus, C::Options, C::Info},
        true);

    // Table, label and protocol go out of the list page shown; a hidden
    // database area offers none of them.
    const int shownRows = in.page == Page::Batteries ? in.batteries : in.page == Page::Services ? in.services : in.steps;
    const bool table = in.databaseShown && shownRows > 0;
    const bool label = in.databaseShown && in.batteries > 0;
    const bool protocol = in.databaseShown && in.page == Page::Services && in.services > 0;
    Set({C::CopyTable, C::ExportTable, C::PrintTable, C::PdfTable}, table);
    Set({C::CopyInfo, C::ExportInfo, C::PrintInfo, C::PdfInfo}, label);
    Set({C::CopyProtocol, C::ExportProtocol, C::ExportSamples, C::PrintProtocol, C::PdfProtocol}, protocol);

    const bool diagram = in.diagramsShown && in.diagrams > 0;
    Set({C::ExportDiagram, C::PrintDiagram, C::PdfDiagram, C::CopyDiagram, C::SaveDiagram, C::CloseDiagram,
         C::CloseAllDiagrams, C::SetupDiagram, C::ShowAll, C::DiagramLegend, C::DiagramCurveProps,
         C::DiagramScalaProps, C::DiagramPaintProps},
        diagram);
    Set({C::ZoomBack}, diagram && in.canZoomBack);

    Set({C::Search, C::History}, in.batteries > 0);
    // A battery or record under treatment is neither deleted nor treated
    // twice; a database that may only be read offers nothing that changes it.
    Set({C::DeleteAkku, C::StartService}, in.writable && in.batteries > 0 && !in.batteryInTreatment);
    Set({C::DeleteService}, in.writable && in.services > 0 && !in.serviceInTreatment);
    Set({C::NewAkku, C::Kestrix}, in.writable);
    Set({C::ShowVoltage, C::ShowCurrent}, in.services > 0);
    Set({C::StopService}, in.stoppablePage);
}

void CommandState::Set(std::initializer_list<Command> commands, bool enabled)
{
    for (Command command : commands)
        enabled_[std::size_t(command)] = enabled;
}
