#include "livecontrol/ServiceCommands.h"

#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "treatment/TreatmentEngine.h"

#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// The page that holds a control window: the window's parent.
int PageIndexOf(const QTabWidget& accuTab, const TAccuControlForm* form)
{
    for (int i = 0; i < accuTab.count(); ++i) {
        if (form && accuTab.widget(i) == form->parentWidget())
            return i;
    }
    return -1;
}

}  // namespace

TLivePages::TLivePages(QTabWidget& tab, TBRASKDataModule& data, TTreatmentEngine& treatmentEngine,
                       DiagramWindows diagramWindows, QObject* parent)
    : QObject(parent), accuTab(tab), database(data), engine(treatmentEngine), diagrams(std::move(diagramWindows))
{
    connect(&engine, &TTreatmentEngine::TreatmentStarted, this, &TLivePages::Start);
    connect(&engine, &TTreatmentEngine::Polled, this, &TLivePages::Feed);
    connect(&engine, &TTreatmentEngine::TreatmentStopped, this, [this](int ticket) { Remove(ticket); });
}

bool TLivePages::ActiveStoppable() const
{
    return ActiveForm() && !engine.IsStopping(ActiveTicket());
}

void TLivePages::Start(const TreatmentSetup& setup)
{
    TAccuControlForm* form = AddAccuPage(accuTab, database, setup.BatteryID);
    SetUpControlWindow(*form, setup);
    pages[setup.Ticket] = form;
    tickets[setup.ServiceID] = setup.Ticket;
    emit PageAdded();
}

void TLivePages::Feed(const PollReport& report)
{
    const auto ticket = tickets.find(report.ServiceID);
    if (ticket != tickets.end()) {
        if (TAccuControlForm* form = FormOf(ticket->second))
            FeedControlWindow(*form, report);
    }
    if (diagrams)
        FeedDiagrams(diagrams(), report);
}

void TLivePages::Remove(int ticket)
{
    const auto page = pages.find(ticket);
    if (page == pages.end())
        return;
    TAccuControlForm* form = page->second;
    pages.erase(page);
    for (auto it = tickets.begin(); it != tickets.end();)
        it = it->second == ticket ? tickets.erase(it) : std::next(it);
    DeleteAccuPage(accuTab, form);
    emit PageRemoved();
}

TAccuControlForm* TLivePages::ActiveForm() const
{
    return ActiveAccuForm(accuTab);
}

int TLivePages::ActiveTicket() const
{
    const TAccuControlForm* active = ActiveForm();
    for (const auto& [ticket, form] : pages)
        if (form == active)
            return ticket;
    return 0;
}

TAccuControlForm* TLivePages::FormOf(int ticket) const
{
    const auto page = pages.find(ticket);
    return page == pages.end() ? nullptr : page->second;
}

TAccuControlForm* AddAccuPage(QTabWidget& accuTab, TBRASKDataModule& database, int batteryID)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new TAccuControlForm(database, page);
    layout->addWidget(form);
    const int index = accuTab.addTab(page, QStringLiteral("Akku %1").arg(batteryID));
    accuTab.setCurrentIndex(index);
    form->show();
    return form;
}

void DeleteAccuPage(QTabWidget& accuTab, ServiceControlWindow* window)
{
    const int index = PageIndexOf(accuTab, dynamic_cast<TAccuControlForm*>(window));
    if (index < 0)
        return;
    QWidget* page = accuTab.widget(index);
    accuTab.removeTab(index);
    delete page;   // the page owns the window
    if (accuTab.count() > 0)
        accuTab.setCurrentIndex(0);
}

TAccuControlForm* ActiveAccuForm(const QTabWidget& accuTab)
{
    QWidget* page = accuTab.currentWidget();
    return page ? page->findChild<TAccuControlForm*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

int StartServiceFromDialog(const TSelectServiceDialog& dialog, TTreatmentEngine& engine, int batteryID)
{
    const std::string terminal = dialog.TerminalName();
    if (dialog.IsSpecialPageActive())
        return engine.StartUser(batteryID, dialog.UserSteps(), terminal);
    return engine.StartStandard(batteryID, dialog.SelectedProgram(), dialog.ChargeCurrent(),
                                dialog.DischargeCurrent(), terminal);
}

int ExecuteStartServiceCommand(TSelectServiceDialog& dialog, TTreatmentEngine& engine, int batteryID,
                               int batteryCapacity)
{
    dialog.SetCapacity(batteryCapacity);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    return StartServiceFromDialog(dialog, engine, batteryID);
}

bool ExecuteStopServiceCommand(TTreatmentEngine& engine, const TLivePages& pages)
{
    return engine.Stop(pages.ActiveTicket());
}
