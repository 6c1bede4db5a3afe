#include "tests/e2e/discovery/DiscoveryWorld.h"

#include <algorithm>
#include <cstdlib>

#include "tools/firmware/SampleFirmware.h"

const char ProgramTitle[] = "ZD-M770B Firmware update";
const char ImageRevision[] = "1.10";

TDiscoveryCase::TDiscoveryCase(const std::string &name, const std::string &scenario, bool withImage)
    : folder_(NewCaseFolder("discovery_" + name)) {
    WriteTextFile(JoinPath(folder_, "scenario.txt"), "trace = trace.txt\n" + scenario);
    if (withImage)
        WriteSampleFirmware(JoinPath(folder_, "Firmware.bin"), 11, ImageRevision);
}

TLaunch TDiscoveryCase::Launch() const {
    TLaunch launch = ProgramLaunch(folder_, StagedSimulatorFolder());
    launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
    launch.Set("M770B_SIM_SCENARIO", JoinPath(folder_, "scenario.txt"));
    return launch;
}

std::vector<TraceRecord> TDiscoveryCase::Trace() const {
    return ReadTraceFile(JoinPath(folder_, "trace.txt"));
}

TWindowLog::TWindowLog(const TProgramRun &run) : run_(run) {
    thread_ = std::thread([this] {
        while (!stop_) {
            std::vector<HWND> windows = run_.TopLevelWindows();
            {
                std::lock_guard<std::mutex> guard(lock_);
                for (HWND window : windows) {
                    std::string name = ClassNameOf(window); // "" once the window has gone
                    if (!name.empty())
                        classes_.insert(name);
                }
                mostAtOnce_ = std::max(mostAtOnce_, windows.size());
            }
            Sleep(5);
        }
    });
}

TWindowLog::~TWindowLog() {
    Stop();
}

void TWindowLog::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::set<std::string> TWindowLog::Classes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return classes_;
}

std::size_t TWindowLog::MostAtOnce() const {
    std::lock_guard<std::mutex> guard(lock_);
    return mostAtOnce_;
}

RECT ClientOnScreen(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT *>(&client), 2);
    return client;
}

std::map<int, TControlInfo> TickBoxes(HWND mainWindow) {
    const RECT client = ClientOnScreen(mainWindow);
    std::map<int, TControlInfo> boxes;
    for (const TControlInfo &control : Controls(mainWindow, "Button")) {
        const DWORD type = control.style & BS_TYPEMASK;
        if (type != BS_CHECKBOX && type != BS_AUTOCHECKBOX)
            continue;
        // Tops 8, 24 ... 104 in the window's client area at 96 pixels per inch.
        const int top = control.windowRect.top - client.top;
        boxes[(top - 8) / 16 + 1] = control;
    }
    return boxes;
}

unsigned ScreenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}

std::vector<int> AdapterInquiries(const std::vector<TraceRecord> &trace) {
    std::vector<int> adapters;
    for (const TraceRecord &record : trace)
        if (record.kind == "req" && record.Number("cmd") == 0x00)
            adapters.push_back(static_cast<int>(record.Number("ha")));
    return adapters;
}

std::vector<std::pair<int, int>> DeviceTypeRequests(const std::vector<TraceRecord> &trace) {
    std::vector<std::pair<int, int>> requests;
    for (const TraceRecord &record : trace)
        if (record.kind == "req" && record.Number("cmd") == 0x01)
            requests.push_back(
                {static_cast<int>(record.Number("ha")), static_cast<int>(record.Number("target"))});
    return requests;
}

std::vector<TraceRecord> ExecRequests(const std::vector<TraceRecord> &trace, int adapter,
                                      int target) {
    std::vector<TraceRecord> requests;
    for (const TraceRecord &record : trace)
        if (record.kind == "req" && record.Number("cmd") == 0x02 &&
            record.Number("ha") == static_cast<uint64_t>(adapter) &&
            record.Number("target") == static_cast<uint64_t>(target))
            requests.push_back(record);
    return requests;
}

void SaveDocsScreenshot(HWND window, const std::string &name) {
    const char *folder = std::getenv("M770B_SCREENSHOT_FOLDER");
    if (folder && *folder)
        SaveScreenshot(window, JoinPath(WindowsPath(folder), name + ".bmp"));
}
