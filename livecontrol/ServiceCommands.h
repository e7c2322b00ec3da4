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
//       if (ExecuteStartServiceCommand(*selectServiceDialog_, *services_, *this,
//                                      database_->SelectedBatteryID(), battery.Capacity)) {
//           ... enable MenuStopService, disable the start and delete commands ...
//       }
//   }
//   void TMainForm::MenuStopServiceClick()         // inside RunCommand
//   { ExecuteStopServiceCommand(*services_, *this, *AccuTab); }
//
// Failures (an unknown terminal, a battery that is gone, the database) are
// exceptions for the command's catch-all; nothing is started then.

class QTabWidget;
class QWidget;
class Service;
class ServiceControlWindow;
class ServiceHost;
class TAccuControlForm;
class TBRASKDataModule;
class TSelectServiceDialog;
class TServiceManager;

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
Service* StartServiceFromDialog(const TSelectServiceDialog& dialog, TServiceManager& services,
                                ServiceHost& host, int batteryID);
// The start command: hands the battery's capacity to the dialog, shows it
// modally and on OK starts the treatment. Returns it, or nullptr on cancel.
Service* ExecuteStartServiceCommand(TSelectServiceDialog& dialog, TServiceManager& services,
                                    ServiceHost& host, int batteryID, int batteryCapacity);
// The stop command: stops and removes the treatment of the active page and
// deletes that page (through the host), then shows the battery page.
// False when no page is active.
bool ExecuteStopServiceCommand(TServiceManager& services, ServiceHost& host, const QTabWidget& accuTab);
