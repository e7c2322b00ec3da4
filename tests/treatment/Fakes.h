#pragma once
// Recording stand-ins for the windows and the host of the treatment operations.

#include "ServiceViews.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TreatmentTest {

class RecordingControlWindow : public ServiceControlWindow {
public:
    void SetupService(int, const QString &caption, double nominalVoltage, double) override
    {
        calls.push_back("SetupService");
        this->caption = caption;
        this->nominalVoltage = nominalVoltage;
    }
    void ShowTime(int seconds) override
    {
        calls.push_back("ShowTime");
        time = seconds;
        if (onShowTime)
            onShowTime();
    }
    void ShowVoltage(double volts) override { calls.push_back("ShowVoltage"); voltage = volts; }
    void ShowCurrent(double amps) override { calls.push_back("ShowCurrent"); current = amps; }
    void AddVoltagePoint(double) override { calls.push_back("AddVoltagePoint"); }
    void SetStepFunction(int function) override { calls.push_back("SetStepFunction"); this->function = function; }
    void ShowCapacity(int mAh) override { calls.push_back("ShowCapacity"); capacity = mAh; }
    void RefreshSteps() override { calls.push_back("RefreshSteps"); }
    void ShowWriteStatus(const WriteStatus &status) override
    {
        calls.push_back("ShowWriteStatus");
        writeStatuses.push_back(status);
    }
    void SetService(Service *service) override { this->service = service; }
    void SetNominalCapacity(int) override {}
    long Count(const std::string &call) const { return std::count(calls.begin(), calls.end(), call); }

    std::vector<std::string> calls;
    std::vector<WriteStatus> writeStatuses;
    std::function<void()> onShowTime;
    QString caption;
    double nominalVoltage = 0, voltage = 0, current = 0;
    int time = -1, function = -1, capacity = -1;
    Service *service = nullptr;
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
