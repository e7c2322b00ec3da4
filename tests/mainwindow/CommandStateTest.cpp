// Which commands the window offers, from what it shows and holds: every
// case compares the whole set of enabled commands, so a rule that spills
// over to a neighbouring command shows too.
#include <gtest/gtest.h>

#include "mainwindow/CommandState.h"

#include <functional>
#include <set>

namespace {

using C = Command;
using Page = CommandInputs::ListPage;

// Offered whatever the window shows.
const std::set<C> Always = {C::PrinterSetup, C::Quit,       C::ShowDiagrams, C::ShowControls, C::ShowDB,
                            C::NextList,     C::PreviousList, C::Refresh,    C::NewDiagram,   C::OpenDiagram,
                            C::GotoAkkus,    C::Options,    C::Info};
const std::set<C> Table = {C::CopyTable, C::ExportTable, C::PrintTable, C::PdfTable};
const std::set<C> Label = {C::CopyInfo, C::ExportInfo, C::PrintInfo, C::PdfInfo};
const std::set<C> Protocol = {C::CopyProtocol, C::ExportProtocol, C::ExportSamples, C::PrintProtocol, C::PdfProtocol};
const std::set<C> Diagram = {C::ExportDiagram, C::PrintDiagram,      C::PdfDiagram,        C::CopyDiagram,
                             C::SaveDiagram,   C::CloseDiagram,      C::CloseAllDiagrams,  C::SetupDiagram,
                             C::ShowAll,       C::DiagramLegend,     C::DiagramCurveProps, C::DiagramScalaProps,
                             C::DiagramPaintProps};
const std::set<C> Changing = {C::NewAkku, C::Kestrix};
const std::set<C> Battery = {C::Search, C::History, C::DeleteAkku, C::StartService};

std::set<C> operator+(std::set<C> a, const std::set<C> &b)
{
    a.insert(b.begin(), b.end());
    return a;
}

std::set<C> operator-(std::set<C> a, const std::set<C> &b)
{
    for (C command : b)
        a.erase(command);
    return a;
}

std::set<C> Enabled(const CommandInputs &inputs)
{
    const CommandState state(inputs);
    std::set<C> enabled;
    for (std::size_t command = 0; command < CommandCount; ++command) {
        if (state.Enabled(C(command)))
            enabled.insert(C(command));
    }
    return enabled - Always;
}

// Two batteries on the battery page of a writable database, nothing else.
CommandInputs TwoBatteries()
{
    CommandInputs in;
    in.batteries = 2;
    in.writable = true;
    return in;
}

TEST(CommandState, FollowsListsDatabaseTreatmentsAndViews)
{
    struct Case {
        const char *what;
        std::function<void(CommandInputs &)> change;
        std::set<C> expected;
    };
    const Case cases[] = {
        {"empty read-only database", [](CommandInputs &in) { in = CommandInputs(); }, {}},
        {"empty database", [](CommandInputs &in) { in.batteries = 0; }, Changing},
        {"batteries", [](CommandInputs &) {}, Changing + Battery + Table + Label},
        {"battery under treatment", [](CommandInputs &in) { in.batteryInTreatment = true; },
         Changing + Battery + Table + Label - std::set<C>{C::DeleteAkku, C::StartService}},
        {"read-only database", [](CommandInputs &in) { in.writable = false; },
         std::set<C>{C::Search, C::History} + Table + Label},
        {"database area hidden", [](CommandInputs &in) { in.databaseShown = false; }, Changing + Battery},
        {"records page",
         [](CommandInputs &in) {
             in.page = Page::Services;
             in.services = 3;
         },
         Changing + Battery + Table + Label + Protocol + std::set<C>{C::DeleteService, C::ShowVoltage, C::ShowCurrent}},
        {"record under treatment",
         [](CommandInputs &in) {
             in.page = Page::Services;
             in.services = 3;
             in.serviceInTreatment = true;
         },
         Changing + Battery + Table + Label + Protocol + std::set<C>{C::ShowVoltage, C::ShowCurrent}},
        {"records of another page",
         [](CommandInputs &in) {
             in.page = Page::Steps;
             in.services = 3;
         },
         Changing + Battery + Label + std::set<C>{C::DeleteService, C::ShowVoltage, C::ShowCurrent}},
        {"steps page with steps",
         [](CommandInputs &in) {
             in.page = Page::Steps;
             in.steps = 4;
         },
         Changing + Battery + Table + Label},
        {"a diagram", [](CommandInputs &in) { in.diagrams = 1; }, Changing + Battery + Table + Label + Diagram},
        {"a diagram zoomed in",
         [](CommandInputs &in) {
             in.diagrams = 1;
             in.canZoomBack = true;
         },
         Changing + Battery + Table + Label + Diagram + std::set<C>{C::ZoomBack}},
        {"diagram area hidden",
         [](CommandInputs &in) {
             in.diagrams = 1;
             in.canZoomBack = true;
             in.diagramsShown = false;
         },
         Changing + Battery + Table + Label},
        {"a treatment page to stop", [](CommandInputs &in) { in.stoppablePage = true; },
         Changing + Battery + Table + Label + std::set<C>{C::StopService}},
    };
    for (const Case &c : cases) {
        CommandInputs inputs = TwoBatteries();
        c.change(inputs);
        const std::set<C> enabled = Enabled(inputs);
        std::string extra, missing;
        for (C command : enabled - c.expected)
            extra += ' ' + std::to_string(int(command));
        for (C command : c.expected - enabled)
            missing += ' ' + std::to_string(int(command));
        EXPECT_EQ(enabled, c.expected) << c.what << ": enabled too:" << extra << ", missing:" << missing;
    }
}

}  // namespace
