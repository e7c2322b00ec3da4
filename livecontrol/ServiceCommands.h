#pragma once
// The main window's treatment pages and its start and stop commands. The
// treatment engine runs the treatments on its own thread and reports in
// values; TLivePages turns its reports into pages: a page with a live window
// once a treatment's start has committed, fed on every tick that brings news
// of it, deleted when the treatment was stopped.
//
// In the main window:
//
//   pages = new TLivePages(*AccuTab, *database_, *engine_, [this] { return DiagramWindows(); }, this);
//
//   void TMainForm::MenuStartServiceClick()        // inside RunCommand
//   { ExecuteStartServiceCommand(*selectServiceDialog_, *engine_, batteryID, capacity); }
//   void TMainForm::MenuStopServiceClick()         // inside RunCommand
//   { ExecuteStopServiceCommand(*engine_, *pages); }
//
// What fails on the engine thread (an unknown terminal, a battery that is
// gone, the database) comes back through its CommandFailed signal, and no
// page is made then.

#include "treatment/ServiceViews.h"

#include <QObject>

#include <functional>
#include <map>
#include <vector>

class QTabWidget;
class TAccuControlForm;
class TBRASKDataModule;
class TSelectServiceDialog;
class TTreatmentEngine;

class TLivePages : public QObject {
    Q_OBJECT
public:
    using DiagramWindows = std::function<std::vector<LiveSampleSink*>()>;

    // The pages go into accuTab; their step lists read through the data
    // module. The engine's reports of starts, polls and stops make, feed and
    // remove them; engine and data module outlive the pages.
    TLivePages(QTabWidget& accuTab, TBRASKDataModule& database, TTreatmentEngine& engine, DiagramWindows diagrams,
               QObject* parent = nullptr);

    // A treatment started: a page captioned "Akku <battery ID>" with a new live
    // window set up for it, made the active page.
    void Start(const TreatmentSetup& setup);
    // A tick's news: the treatment's window, and the diagrams for an answered poll.
    void Feed(const PollReport& report);
    // The treatment of the ticket was stopped: its page goes, the first
    // remaining one becomes active, and PageRemoved asks for the battery page.
    void Remove(int ticket);

    // The window of the active page and its ticket (nullptr, 0 when none).
    TAccuControlForm* ActiveForm() const;
    int ActiveTicket() const;
    TAccuControlForm* FormOf(int ticket) const;
    int Count() const { return static_cast<int>(pages.size()); }
    // A page is active and its treatment's stop is not under way yet.
    bool ActiveStoppable() const;

signals:
    void PageAdded();
    void PageRemoved();

private:
    QTabWidget& accuTab;
    TBRASKDataModule& database;
    TTreatmentEngine& engine;
    DiagramWindows diagrams;
    std::map<int, TAccuControlForm*> pages;   // ticket -> window (owned by its page)
    std::map<int, int> tickets;               // service ID -> ticket
};

// Adds a page captioned "Akku <batteryID>" to the treatment page control with a
// new live control window filling it, shows it and returns the window (owned by the page).
TAccuControlForm* AddAccuPage(QTabWidget& accuTab, TBRASKDataModule& database, int batteryID);
// Deletes the page that holds the window, and the window; when pages remain,
// the first one becomes the active page. Unknown windows are ignored.
void DeleteAccuPage(QTabWidget& accuTab, ServiceControlWindow* window);
// The live control window of the active page, nullptr when there is none.
TAccuControlForm* ActiveAccuForm(const QTabWidget& accuTab);

// Starts what the dialog (closed with OK) describes for the battery: a user
// treatment when its "Spezial" page is active, else a standard treatment.
// Returns the engine's ticket of the treatment.
int StartServiceFromDialog(const TSelectServiceDialog& dialog, TTreatmentEngine& engine, int batteryID);
// The start command: hands the battery's capacity to the dialog, shows it
// modally and on OK starts the treatment. Returns its ticket, or 0 on cancel.
int ExecuteStartServiceCommand(TSelectServiceDialog& dialog, TTreatmentEngine& engine, int batteryID,
                               int batteryCapacity);
// The stop command for the active page: the engine stops its treatment, and
// the page goes when that is done. False when no page is active or its stop
// is already under way (a second click stops nothing else).
bool ExecuteStopServiceCommand(TTreatmentEngine& engine, const TLivePages& pages);
