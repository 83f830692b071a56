#pragma once
// Shared pieces of the link tests: a recorder in the main window's place, the settings dialog
// over simulated ports in a fresh directory, and waiting while the GUI thread handles the
// port's trigger events.

#include "link/FrmS_comm.h"
#include "link/LoaderCallbacks.h"

#include "serial/Dispatcher.h"
#include "serial/SimulatedDevice.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace linktest
{

// Handles GUI messages until pred holds; false when it never did within the limit (a safety
// net for a broken engine, not a measurement).
inline bool WaitUntil(const std::function<bool()> &pred, int limitMs = 10000)
{
    return testsupport::ProcessEventsUntil(pred, limitMs);
}

inline void Settle(int ms = 300) { testsupport::Settle(ms); }

// Names a parameterised case after the "name" field of its parameter.
struct ByName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param> &param) const
    {
        return param.param.name;
    }
};

// Figures written down on the port's dispatch thread (where the block pump reports the gauge)
// and read on the test's.
class TFigures
{
  public:
    void Add(int figure)
    {
        const std::lock_guard lock(mutex_);
        figures_.push_back(figure);
    }
    std::vector<int> Values() const
    {
        const std::lock_guard lock(mutex_);
        return figures_;
    }
    std::size_t size() const { return Values().size(); }
    bool empty() const { return Values().empty(); }
    bool operator==(const std::vector<int> &other) const { return Values() == other; }
    friend std::ostream &operator<<(std::ostream &out, const TFigures &figures)
    {
        for (const int figure : figures.Values())
            out << figure << ' ';
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int> figures_;
};

// Stands in for the main window and writes down every call, in order.
class TRecordedCalls : public loader::TLoaderCallbacks
{
  public:
    void SetComBtnState(bool enabled) override
    {
        calls.push_back(enabled ? "ComBtn on" : "ComBtn off");
    }
    void SetScriptError() override { calls.push_back("ScriptError"); }
    void SetULError() override { calls.push_back("ULError"); }
    void EnableScriptTimer() override { calls.push_back("Timer"); }
    void SetUploadProgress(int percent) override
    {
        progress.Add(percent);
        if (onProgress)
            onProgress(percent);
    }

    std::vector<std::string> calls;
    TFigures progress;
    std::function<void(int)> onProgress;
};

// The trigger handles a port holds, by kind (data, status, timer).
struct TTriggerCount {
    int data = 0;
    int status = 0;
    int timer = 0;
    bool operator==(const TTriggerCount &) const = default;
};

inline TTriggerCount TriggersOf(serial::TApdCustomComPort &port)
{
    serial::TTriggerSnapshot snapshot;
    TTriggerCount count;
    if (serial::StashTriggers(port.PortSlot(), snapshot) != 0)
        return {-1, -1, -1};
    for (uint16_t handle = serial::kFirstHandle; handle <= serial::kMaxHandle; ++handle) {
        const serial::THandleEntry &entry = snapshot.Handles[handle];
        if (entry.Slot == 0)
            continue;
        count.data += entry.Kind == serial::hkData;
        count.status += entry.Kind == serial::hkStatus;
        count.timer += entry.Kind == serial::hkTimer;
    }
    return count;
}

inline std::ostream &operator<<(std::ostream &out, const TTriggerCount &count)
{
    return out << "{data " << count.data << ", status " << count.status << ", timer " << count.timer
               << "}";
}

// A settings dialog in a fresh directory over simulated ports ("COM1" unless a test says
// otherwise), with the boxes answered and the main window's calls recorded.
class LinkTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir.Enter();
        serial::InstallSimulatedDeviceLayer();
    }
    void TearDown() override
    {
        dialog.reset();
        devices.clear();
    }

    serial::TSimulatedDevice &AddPort(int n)
    {
        auto &device = devices["COM" + std::to_string(n)];
        device = std::make_unique<serial::TSimulatedDevice>("COM" + std::to_string(n));
        return *device;
    }
    serial::TSimulatedDevice &Port(int n) { return *devices.at("COM" + std::to_string(n)); }

    void WriteIni(const std::string &content) { dir.Write("loader.ini", content); }
    std::string Ini() const { return dir.Read("loader.ini"); }

    loader::TFrmS_comm &Create()
    {
        dialog = std::make_unique<loader::TFrmS_comm>(
            dir.File("loader.ini"), &calls, nullptr, [](serial::TApdComPort &port) {
                port.SetDeviceLayer(serial::dlOther);
                port.CustomDeviceLayer = serial::InstallSimulatedDeviceLayer;
            });
        return *dialog;
    }
    serial::TApdComPort &ComPort() { return *dialog->ApdComPort1; }

    std::vector<std::string> Shown() const
    {
        std::vector<std::string> texts;
        for (const auto &box : boxes.Shown())
            texts.push_back(box.caption + ": " + box.text);
        return texts;
    }

    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    TRecordedCalls calls;
    std::map<std::string, std::unique_ptr<serial::TSimulatedDevice>> devices;
    std::unique_ptr<loader::TFrmS_comm> dialog;
};

} // namespace linktest
