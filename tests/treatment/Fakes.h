#pragma once
// Recording stand-ins for the windows that show treatments: the live window of
// a page and the diagrams, fed from the manager's reports as the main window
// feeds the real ones.

#include "treatment/ServiceViews.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TreatmentTest {

// Every call as "Name value" (values as QString::number writes them), in order.
class RecordingControlWindow : public ServiceControlWindow {
public:
    void SetupService(int, const QString &caption, double nominalVoltage, double) override
    {
        setup = caption.toStdString() + ", " + QString::number(nominalVoltage).toStdString() + " V";
    }
    void ShowTime(int seconds) override { Call("ShowTime", seconds); }
    void ShowVoltage(double volts) override { Call("ShowVoltage", volts); }
    void ShowCurrent(double amps) override { Call("ShowCurrent", amps); }
    void AddVoltagePoint(double) override { Call("AddVoltagePoint"); }
    void SetStepFunction(int function) override { Call("SetStepFunction", function); }
    void ShowCapacity(int mAh) override { Call("ShowCapacity", mAh); }
    void RefreshSteps() override { Call("RefreshSteps"); }
    void ShowWriteStatus(const WriteStatus &status) override
    {
        Call("ShowWriteStatus");
        writeStatuses.push_back(status);
    }
    void SetNominalCapacity(int) override {}
    long Count(const std::string &name) const
    {
        return std::count_if(calls.begin(), calls.end(),
                             [&](const std::string &c) { return c == name || c.rfind(name + " ", 0) == 0; });
    }

    std::vector<std::string> calls;
    std::vector<WriteStatus> writeStatuses;
    std::string setup;   // "<caption>, <nominal voltage> V"

private:
    void Call(const std::string &name) { calls.push_back(name); }
    void Call(const std::string &name, double value) { calls.push_back(name + " " + QString::number(value).toStdString()); }
};

struct LiveSample {
    int serviceID, kind;
    double time, value;
    int phase;
};

class RecordingDiagram : public LiveSampleSink {
public:
    void AddLiveSample(int serviceID, int kind, double time, double value, int phase) override
    {
        samples.push_back({serviceID, kind, time, value, phase});
    }
    std::vector<LiveSample> samples;
};

// Pages as a list of (battery ID, treatment ID, window), made for every start
// and fed with every report.
class RecordingPages {
public:
    void Start(const TreatmentSetup &setup)
    {
        pages.push_back({setup.BatteryID, setup.ServiceID, std::make_unique<RecordingControlWindow>()});
        SetUpControlWindow(*pages.back().window, setup);
    }
    void Feed(const std::vector<PollReport> &reports)
    {
        std::vector<LiveSampleSink *> sinks;
        for (auto &diagram : diagrams)
            sinks.push_back(diagram.get());
        for (const PollReport &report : reports) {
            for (Page &page : pages)
                if (page.serviceID == report.ServiceID)
                    FeedControlWindow(*page.window, report);
            FeedDiagrams(sinks, report);
        }
    }
    void Remove(int serviceID)
    {
        pages.erase(std::remove_if(pages.begin(), pages.end(), [serviceID](const Page &p) { return p.serviceID == serviceID; }),
                    pages.end());
        ++removed;
    }
    RecordingControlWindow *Window(size_t page) { return pages.at(page).window.get(); }

    struct Page {
        int batteryID, serviceID;
        std::unique_ptr<RecordingControlWindow> window;
    };
    std::vector<Page> pages;
    std::vector<std::unique_ptr<RecordingDiagram>> diagrams;
    int removed = 0;
};

} // namespace TreatmentTest
