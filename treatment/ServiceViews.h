#pragma once
// What the treatment code needs from the windows that show treatments. The live
// control window, the diagram windows and the main window (or a console front
// end) implement these, so the run loop works and is tested without any window.

#include <QString>

#include <vector>

class Service;

// The live view of one treatment (one per treatment page).
class ServiceControlWindow {
public:
    virtual ~ServiceControlWindow() = default;

    // Once at the start: treatment ID, caption "<terminal>: Akku <ID>", nominal
    // voltage in V and the terminal's maximum current in A.
    virtual void SetupService(int serviceID, const QString &caption, double nominalVoltage,
                              double maxCurrentA) = 0;
    // Fed on every tick that polled this treatment, in this order:
    virtual void ShowTime(int seconds) = 0;      // elapsed time of the running step
    virtual void ShowVoltage(double volts) = 0;
    virtual void ShowCurrent(double amps) = 0;
    virtual void AddVoltagePoint(double volts) = 0;
    virtual void SetStepFunction(int function) = 0;   // 0 Entladen, 1 Laden, 2 Warten
    virtual void ShowCapacity(int mAh) = 0;
    // A step row of the treatment was written: re-read the step list.
    virtual void RefreshSteps() = 0;
    // A tick whose status read got no answer: the charger has been silent for
    // this many seconds (since the start if it never answered). The next
    // answered poll's ShowTime/ShowVoltage ends it.
    virtual void ShowNoAnswer([[maybe_unused]] int secondsSinceLastAnswer) {}

    // The treatment shown (nullptr once it is gone) and the battery's capacity.
    virtual void SetService(Service *service) = 0;
    virtual void SetNominalCapacity(int mAh) = 0;
};

// A window that draws curves and takes live points of running treatments; it
// decides itself whether it shows the treatment.
class LiveSampleSink {
public:
    virtual ~LiveSampleSink() = default;
    // kind 0: voltage in V, kind 1: current in mA; time in s; phase = step function.
    virtual void AddLiveSample(int serviceID, int kind, double time, double value, int phase) = 0;
};

// What the main window (or the command line front end) offers the treatment
// operations.
class ServiceHost {
public:
    virtual ~ServiceHost() = default;

    // Adds a treatment page captioned "Akku <batteryID>" with a new, shown
    // control window on it and returns that window (owned by the page).
    virtual ServiceControlWindow *CreateServicePage(int batteryID) = 0;
    // Deletes the page that holds the window (and the window); when pages
    // remain, the first one becomes the active page.
    virtual void DeleteServicePage(ServiceControlWindow *window) = 0;
    // The windows of the diagram pages, in page order.
    virtual std::vector<LiveSampleSink *> DiagramWindows() = 0;
    // Brings the battery page to the front.
    virtual void ShowBatteryPage() = 0;
};
