// Takes the pictures of an update for the documentation: the progress window half-way through
// one drive, and the success message after it. Not a test: it runs the staged program over the
// virtual drive with latencies long enough to catch the bar, and saves two BMP files.
//   wine64 update_screenshots.exe OUTPUT_FOLDER
// writes OUTPUT_FOLDER\progress-window.bmp and OUTPUT_FOLDER\success-message.bmp.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tools/firmware/SampleFirmware.h"

namespace {

const char Scenario[] = "adapters = 1\n"
                        "[device 0 1]\n"
                        "kind = loader\n"
                        "latency_erase = 400\n"
                        "latency_chunk = 250\n"
                        "latency_checksum = 250\n"
                        "[device 0 3]\n"
                        "kind = loader\n"
                        "identity = \"VANDREL ZD-M770B LOADER 1.09\"\n";

int Fail(const char *what) {
    std::fprintf(stderr, "update_screenshots: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2)
        return Fail("usage: update_screenshots OUTPUT_FOLDER");
    const std::string output = WindowsPath(argv[1]);
    const std::string folder = NewCaseFolder("update_screenshots");
    if (!WriteTextFile(JoinPath(folder, "scenario.txt"), Scenario) ||
        !WriteSampleFirmware(JoinPath(folder, "Firmware.bin"), 3, "2.00"))
        return Fail("cannot prepare the case folder");
    TLaunch launch = ProgramLaunch(folder, StagedSimulatorFolder());
    launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
    launch.Set("M770B_SIM_SCENARIO", JoinPath(folder, "scenario.txt"));
    TProgramRun run;
    if (!run.Start(launch))
        return Fail(run.Error().c_str());
    HWND mainWindow = run.WaitForWindow(TWindowQuery::OfClass("TMainForm"), 30000);
    if (!mainWindow)
        return Fail("the main window did not come");
    SetChecked(ControlWithText(mainWindow, "(0,3) VANDREL ZD-M770B LOADER 1.09"), false);
    PressButton(ControlWithText(mainWindow, "UPDATE"));
    HWND progress = run.WaitForWindow(TWindowQuery::OfClass("TWriteForm"), 10000);
    if (!progress)
        return Fail("the progress window did not come");
    std::vector<TControlInfo> bars = Controls(progress, "msctls_progress32");
    if (bars.empty())
        return Fail("the progress window has no bar");
    // Half-way: the fourth chunk is being written; give the window a moment to paint.
    if (!WaitUntil([&] { return DescribeWindow(bars[0].window).progressPos >= 50; }, 20000))
        return Fail("the bar did not reach 50");
    Sleep(100);
    if (!SaveScreenshot(progress, JoinPath(output, "progress-window.bmp")))
        return Fail("cannot save the progress window");
    HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), 30000);
    if (!box)
        return Fail("the success message did not come");
    Sleep(300);
    if (!SaveScreenshot(box, JoinPath(output, "success-message.bmp")))
        return Fail("cannot save the success message");
    PressButton(ReadMessageBox(box).okButton);
    run.WaitForExit(10000);
    return 0;
}
