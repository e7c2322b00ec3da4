#pragma once
// The main window's start and stop commands for treatments, and its treatment
// pages, in a form the main window wires with a few lines:
//
//   // ServiceHost of TMainForm
//   ServiceControlWindow* TMainForm::CreateServicePage(int batteryID)
//   { return AddAccuPage(*AccuTab, *database_, batteryID); }
//   void TMainForm::DeleteServicePage(ServiceControlWindow* window)
//   { DeleteAccuPage(*AccuTab, window); }
//
//   void TMainForm::MenuStartServiceClick()        // inside RunCommand
//   {
//       TBRASKDataModule::Battery battery;
//       database_->ReadSelectedBattery(battery);
//       if (ExecuteStartServiceCommand(*selectServiceDialog_, *engine_,
//                                      database_->SelectedBatteryID(), battery.Capacity)) {
//           ... enable MenuStopService, disable the start and delete commands ...
//       }
//   }
//   void TMainForm::MenuStopServiceClick()         // inside RunCommand
//   { ExecuteStopServiceCommand(*engine_, *this, *AccuTab); }
//
// The treatment engine carries out starts and stops on its own thread; what
// fails there (an unknown terminal, a battery that is gone, the database) comes
// back through its CommandFailed signal, and nothing is started then.

class QTabWidget;
class QWidget;
class Service;
class ServiceControlWindow;
class ServiceHost;
class TAccuControlForm;
class TBRASKDataModule;
class TSelectServiceDialog;
class TTreatmentEngine;

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
// The stop command for the page active now: the engine stops and removes its
// treatment and then deletes the page and shows the battery page. A page
// without a treatment is closed at once. False when no page is active or its
// stop is already under way (a second click stops nothing else).
bool ExecuteStopServiceCommand(TTreatmentEngine& engine, ServiceHost& host, const QTabWidget& accuTab);
