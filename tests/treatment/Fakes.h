#pragma once
// Recording stand-ins for the windows and the host of the treatment operations.

#include "ServiceViews.h"

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
    void SetService(Service *service) override { this->service = service; }
    void SetNominalCapacity(int) override {}
    long Count(const std::string &name) const
    {
        return std::count_if(calls.begin(), calls.end(),
                             [&](const std::string &c) { return c == name || c.rfind(name + " ", 0) == 0; });
    }

    std::vector<std::string> calls;
    std::vector<WriteStatus> writeStatuses;
    std::string setup;   // "<caption>, <nominal voltage> V"
    Service *service = nullptr;

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

// Pages as a list of (battery ID, window); the first page is active after a deletion.
class RecordingHost : public ServiceHost {
public:
    ServiceControlWindow *CreateServicePage(int batteryID) override
    {
        pages.push_back({batteryID, std::make_unique<RecordingControlWindow>()});
        return pages.back().window.get();
    }
    void DeleteServicePage(ServiceControlWindow *window) override
    {
        pages.erase(std::remove_if(pages.begin(), pages.end(), [window](const Page &p) { return p.window.get() == window; }),
                    pages.end());
        activePage = pages.empty() ? -1 : 0;
    }
    std::vector<LiveSampleSink *> DiagramWindows() override
    {
        std::vector<LiveSampleSink *> windows;
        for (auto &diagram : diagrams)
            windows.push_back(diagram.get());
        return windows;
    }
    void ShowBatteryPage() override { ++batteryPageShown; }
    RecordingControlWindow *Window(size_t page) { return pages.at(page).window.get(); }

    struct Page {
        int batteryID;
        std::unique_ptr<RecordingControlWindow> window;
    };
    std::vector<Page> pages;
    std::vector<std::unique_ptr<RecordingDiagram>> diagrams;
    int activePage = -1, batteryPageShown = 0;
};

} // namespace TreatmentTest
