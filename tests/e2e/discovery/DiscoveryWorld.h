// One discovery case end to end: a case folder with the scenario of the virtual drive, its trace
// and (optionally) Firmware.bin; the program started there from the staged folder beside the
// virtual wnaspi32.dll; a log of every top-level window the program showed; and readers for the
// main window's tick boxes, the trace and the screen.
#ifndef M770B_TESTS_E2E_DISCOVERY_DISCOVERYWORLD_H
#define M770B_TESTS_E2E_DISCOVERY_DISCOVERYWORLD_H

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/trace/SimTrace.h"
#include "tests/e2e/robot/Robot.h"

extern const char ProgramTitle[];  // "ZD-M770B Firmware update"
extern const char ImageRevision[]; // of the Firmware.bin a case writes

class TDiscoveryCase {
  public:
    // A fresh case folder; `scenario` is the whole scenario file (trace = trace.txt is added).
    TDiscoveryCase(const std::string &name, const std::string &scenario, bool withImage = true);

    const std::string &Folder() const { return folder_; }
    // The program over the virtual drive, in the case folder.
    TLaunch Launch() const;
    std::vector<TraceRecord> Trace() const;

  private:
    std::string folder_;
};

// Samples the classes of the program's visible top-level windows every few milliseconds, from
// the start until it is stopped, and the most windows seen at once. A sample can miss a window
// (a busy machine may not run this thread for a while): what it saw is some of what was shown,
// so it can tell only what was shown that should not have been.
class TWindowLog {
  public:
    explicit TWindowLog(const TProgramRun &run);
    ~TWindowLog();
    TWindowLog(const TWindowLog &) = delete;
    TWindowLog &operator=(const TWindowLog &) = delete;

    void Stop();
    std::set<std::string> Classes() const;
    std::size_t MostAtOnce() const;

  private:
    const TProgramRun &run_;
    mutable std::mutex lock_;
    std::set<std::string> classes_;
    std::size_t mostAtOnce_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The main window's seven tick boxes by number (1..7), told apart by their place in the column.
std::map<int, TControlInfo> TickBoxes(HWND mainWindow);
// The window's client rectangle in screen coordinates.
RECT ClientOnScreen(HWND window);
// The screen's colour at a point, as 0xRRGGBB.
unsigned ScreenPixel(int x, int y);

// Trace readers: the adapter numbers of every SC_HA_INQUIRY in order; every (adapter, target)
// request of SC_GET_DEV_TYPE; the CDBs (hex) of the execute requests to one target.
std::vector<int> AdapterInquiries(const std::vector<TraceRecord> &trace);
std::vector<std::pair<int, int>> DeviceTypeRequests(const std::vector<TraceRecord> &trace);
std::vector<TraceRecord> ExecRequests(const std::vector<TraceRecord> &trace, int adapter,
                                      int target);

// Saves the window into M770B_SCREENSHOT_FOLDER as `name`.bmp when that variable is set.
void SaveDocsScreenshot(HWND window, const std::string &name);

#endif
