// Drive discovery as a person and a drive meet it, under Wine over the virtual drive: the main
// window with one ticked box per loader of the first adapter that has any, the commands every
// target received, the jumper window when there is no loader, and the ways the program ends.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/discovery/DiscoveryWorld.h"
#include "tests/e2e/robot/RecordLines.h"
#include "tools/firmware/SampleFirmware.h"

namespace {

constexpr DWORD WindowWait = 20000, ExitWait = 15000;
const char DefaultIdentity[] = "VANDREL ZD-M770B LOADER 1.10";

// The main window of a case that has loaders, once it is visible.
HWND WaitForMainWindow(const TProgramRun &run) {
    return run.WaitForWindow(TWindowQuery::OfClass("TMainForm"), WindowWait);
}

// Tick boxes 1..7: those in `filled` visible and ticked with their captions, the others hidden,
// unticked and without caption.
void ExpectTickBoxes(HWND mainWindow, const std::map<int, std::string> &filled) {
    std::map<int, TControlInfo> boxes = TickBoxes(mainWindow);
    ASSERT_EQ(7u, boxes.size());
    for (int n = 1; n <= 7; ++n) {
        SCOPED_TRACE("CheckBox" + std::to_string(n));
        ASSERT_EQ(1u, boxes.count(n));
        const TControlInfo &box = boxes[n];
        auto expected = filled.find(n);
        if (expected == filled.end()) {
            EXPECT_FALSE(box.visible);
            EXPECT_EQ(BST_UNCHECKED, box.checked);
            EXPECT_EQ("", box.text);
        } else {
            EXPECT_TRUE(box.visible);
            EXPECT_EQ(BST_CHECKED, box.checked);
            EXPECT_EQ(expected->second, box.text);
        }
    }
}

// A top-level window centred on the screen (to the pixel the halving leaves).
void ExpectCentred(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - width) / 2, frame.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - height) / 2, frame.top);
}

// A fixed dialog frame: title bar, system menu and close box; no sizing frame, no minimise or
// maximise box.
void ExpectFixedDialogFrame(HWND window, int clientWidth, int clientHeight) {
    const TControlInfo info = DescribeWindow(window);
    EXPECT_EQ(WS_CAPTION, info.style & WS_CAPTION);
    EXPECT_TRUE(info.style & WS_SYSMENU);
    EXPECT_FALSE(info.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_EQ(clientWidth, info.clientRect.right - info.clientRect.left);
    EXPECT_EQ(clientHeight, info.clientRect.bottom - info.clientRect.top);
}

// The commands of one CD-ROM-class target: five TEST UNIT READY, then INQUIRY of 36, then for a
// loader its identity command, all with an event, on LUN 0.
void ExpectTargetCommands(const std::vector<TraceRecord> &trace, int adapter, int target,
                          bool loader) {
    SCOPED_TRACE("target " + std::to_string(adapter) + "," + std::to_string(target));
    std::vector<TraceRecord> requests = ExecRequests(trace, adapter, target);
    struct Expected {
        const char *cdb, *flags, *buflen;
    };
    std::vector<Expected> expected(5, {"000000000000", "0x40", "0"});
    expected.push_back({"120000002400", "0x48", "36"});
    if (loader)
        expected.push_back({"E30000100180000000200000", "0x48", "32"});
    ASSERT_EQ(expected.size(), requests.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        EXPECT_EQ(expected[i].cdb, requests[i].Text("cdb"));
        EXPECT_EQ(expected[i].flags, requests[i].Text("flags"));
        EXPECT_EQ(expected[i].buflen, requests[i].Text("buflen"));
        EXPECT_EQ("0", requests[i].Text("lun"));
        EXPECT_EQ("1", requests[i].Text("event"));
        EXPECT_EQ("0x00", requests[i].Text("ret"));
    }
}

// The program ends with exit code 0, having shown no window of another class than
// `windowClass`. (The log only samples: it may miss a window, so what it saw is some of what was
// shown; the window the case waited for was seen by that wait.)
void ExpectEndAfterOnly(TProgramRun &run, TWindowLog &log, const std::string &windowClass) {
    EXPECT_EQ(0u, run.WaitForExit(ExitWait));
    log.Stop();
    for (const std::string &seen : log.Classes())
        EXPECT_EQ(windowClass, seen);
}

std::vector<std::pair<int, int>> AllTargets(int adapter) {
    std::vector<std::pair<int, int>> targets;
    for (int t = 0; t <= 6; ++t)
        targets.push_back({adapter, t});
    return targets;
}

// Loaders at targets 1 and 4 of adapter 0: the main window as designed, centred, with the two
// boxes; the close box then ends the message loop and the program with exit code 0.
TEST(DiscoveryRun, LoadersAtTargetsOneAndFourShowTheirBoxesInTheMainWindow) {
    TDiscoveryCase world("targets_1_4", R"(adapters = 1
[device 0 1]
kind = loader
identity = "VANDREL ZD-M770B LOADER 1.10"
[device 0 4]
kind = loader
identity = "VANDREL ZD-M770B LOADER 1.02"
)");
    TProgramRun run;
    ASSERT_TRUE(run.Start(world.Launch())) << run.Error();
    TWindowLog log(run);
    HWND mainWindow = WaitForMainWindow(run);
    ASSERT_NE(nullptr, mainWindow);
    Sleep(300);
    EXPECT_EQ(1u, run.TopLevelWindows().size());
    EXPECT_EQ(std::string(ProgramTitle) + " " + ImageRevision, WindowTextOf(mainWindow));
    ExpectTickBoxes(mainWindow, {{2, std::string("(0,1) ") + DefaultIdentity},
                                 {5, "(0,4) VANDREL ZD-M770B LOADER 1.02"}});
    ExpectCentred(mainWindow);
    ExpectFixedDialogFrame(mainWindow, 283, 167);
    HWND update = ControlWithText(mainWindow, "UPDATE");
    HWND cancel = ControlWithText(mainWindow, "CANCEL");
    ASSERT_TRUE(update && cancel);
    EXPECT_TRUE(IsWindowVisible(update) && IsWindowVisible(cancel));
    // The inside of the group box, where tick box 3 is hidden, shows the window's background.
    const RECT client = ClientOnScreen(mainWindow);
    EXPECT_EQ(ScreenPixel(client.left + 2, client.top + 150),
              ScreenPixel(client.left + 20, client.top + 48));
    SaveDocsScreenshot(mainWindow, "main-window");

    const std::vector<TraceRecord> trace = world.Trace();
    EXPECT_EQ(AllTargets(0), DeviceTypeRequests(trace));
    ExpectTargetCommands(trace, 0, 1, true);
    ExpectTargetCommands(trace, 0, 4, true);
    for (int empty : {0, 2, 3, 5, 6})
        EXPECT_TRUE(ExecRequests(trace, 0, empty).empty()) << "target " << empty;

    SystemClose(mainWindow);
    ExpectEndAfterOnly(run, log, "TMainForm");
}

// The table of what counts as a loader, across three adapters of which ASPI reports one:
// only adapter 1's loaders are offered (adapter 3 is never asked), target 7 is never asked,
// a normal-mode drive, a lower-case vendor and a target whose INQUIRY fails after a loader are
// not offered, bytes 15, 16 and 24 are free, and the identity text is cut at 28 bytes or at its
// first zero. CANCEL with boxes ticked ends the program with exit code 0.
TEST(DiscoveryRun, OnlyTheFirstAdapterWithLoadersIsOfferedAndOnlyRealLoaders) {
    TDiscoveryCase world("discovery_table", R"(adapters = 1
answering = 0 1 3
[device 0 0]
kind = cdrom
[device 0 5]
kind = normal
[device 1 0]
kind = loader
inquiry = 05 80 02 02 1F 00 00 00 "VANDREL?!Program#Mode1  1.00"
identity = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01TAIL"
[device 1 1]
kind = loader
identity = "VANDREL ZD\0M770B LOADER 1.10"
[device 1 2]
kind = loader
inquiry = 05 80 02 02 1F 00 00 00 "vandrel  Program Mode1  1.00"
[device 1 3]
kind = normal
[device 1 4]
kind = loader
identity = "LDR 1.10VANDREL  Program Mode1  "
[device 1 5]
kind = loader
[device 1 7]
kind = loader
[device 3 2]
kind = loader
[fault]
adapter = 1
target = 5
opcode = 0x12
status = 0x04
hastat = 0x11
)");
    TProgramRun run;
    ASSERT_TRUE(run.Start(world.Launch())) << run.Error();
    TWindowLog log(run);
    HWND mainWindow = WaitForMainWindow(run);
    ASSERT_NE(nullptr, mainWindow);
    ExpectTickBoxes(mainWindow, {{1, "(1,0) ABCDEFGHIJKLMNOPQRSTUVWXYZ01"},
                                 {2, "(1,1) VANDREL ZD"},
                                 {5, "(1,4) LDR 1.10VANDREL  Program Mod"}});

    const std::vector<TraceRecord> trace = world.Trace();
    EXPECT_EQ((std::vector<int>{0, 1}), AdapterInquiries(trace));
    std::vector<std::pair<int, int>> targets = AllTargets(0), second = AllTargets(1);
    targets.insert(targets.end(), second.begin(), second.end());
    EXPECT_EQ(targets, DeviceTypeRequests(trace));
    ExpectTargetCommands(trace, 0, 0, false);
    ExpectTargetCommands(trace, 0, 5, false);
    ExpectTargetCommands(trace, 1, 0, true);
    ExpectTargetCommands(trace, 1, 1, true);
    ExpectTargetCommands(trace, 1, 2, false);
    ExpectTargetCommands(trace, 1, 3, false);
    ExpectTargetCommands(trace, 1, 4, true);
    ExpectTargetCommands(trace, 1, 5, false);
    EXPECT_TRUE(ExecRequests(trace, 1, 7).empty());
    EXPECT_TRUE(ExecRequests(trace, 3, 2).empty());

    PressButton(ControlWithText(mainWindow, "CANCEL"));
    ExpectEndAfterOnly(run, log, "TMainForm");
}

// ASPI reports one adapter; adapter numbers up to 9 are asked all the same, and a loader found
// on adapter 9 alone is offered and addressed as adapter 9.
TEST(DiscoveryRun, AdapterNineIsAskedWhenOneAdapterIsReported) {
    TDiscoveryCase world("adapter_9", R"(adapters = 1
answering = 0 9 10
[device 9 6]
kind = loader
[device 10 0]
kind = loader
)");
    TProgramRun run;
    ASSERT_TRUE(run.Start(world.Launch())) << run.Error();
    HWND mainWindow = WaitForMainWindow(run);
    ASSERT_NE(nullptr, mainWindow);
    ExpectTickBoxes(mainWindow, {{7, std::string("(9,6) ") + DefaultIdentity}});
    const std::vector<TraceRecord> trace = world.Trace();
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), AdapterInquiries(trace));
    ExpectTargetCommands(trace, 9, 6, true);
    PressButton(ControlWithText(mainWindow, "CANCEL"));
    EXPECT_EQ(0u, run.WaitForExit(ExitWait));
}

const char *const JumperTexts[] = {
    "The firmware loader was not found.",
    "To update your firmware you must first power off",
    "the CD-R drive and short the firmware jumper as",
    "shown in the picture.   The picture shows the",
    "proper jumper position from the back of the drive.",
};

// The jumper window: its labels exactly, its OK button, its size and place, and the jumper
// picture drawn at natural size at the top-left corner of its picture control.
void ExpectJumperWindow(HWND jumper) {
    EXPECT_EQ(ProgramTitle, WindowTextOf(jumper));
    ExpectCentred(jumper);
    ExpectFixedDialogFrame(jumper, 434, 174);
    std::vector<std::string> labels;
    HWND picture = nullptr;
    for (const TControlInfo &control : Controls(jumper, "Static")) {
        if ((control.style & SS_TYPEMASK) == SS_OWNERDRAW)
            picture = control.window;
        else
            labels.push_back(control.text);
    }
    EXPECT_EQ(std::vector<std::string>(std::begin(JumperTexts), std::end(JumperTexts)), labels);
    std::vector<TControlInfo> buttons = Controls(jumper, "Button");
    ASSERT_EQ(1u, buttons.size());
    EXPECT_EQ("OK", buttons[0].text);

    ASSERT_NE(nullptr, picture);
    const RECT control = ClientOnScreen(picture);
    const RECT client = ClientOnScreen(jumper);
    EXPECT_EQ(8, control.left - client.left);
    EXPECT_EQ(16, control.top - client.top);
    EXPECT_EQ(137, control.right - control.left);
    EXPECT_EQ(89, control.bottom - control.top);
    auto at = [&](int x, int y) { return ScreenPixel(control.left + x, control.top + y); };
    // Painted by now? The first pin's centre turns black.
    EXPECT_TRUE(WaitUntil([&] { return at(14, 29) == 0x000000; }, 5000)) << std::hex << at(14, 29);
    EXPECT_EQ(0xBFBFBFu, at(0, 0)) << std::hex << at(0, 0);       // the field, from the corner
    EXPECT_EQ(0xBFBFBFu, at(125, 74)) << std::hex << at(125, 74); // to the opposite corner
    EXPECT_EQ(0x000000u, at(112, 43));                            // the last pin of the lower row
    EXPECT_EQ(0xFF0000u, at(89, 43));                             // the red frame's left side
    EXPECT_EQ(0xFF0000u, at(121, 43));                            // and its right side
    EXPECT_EQ(0x7F7F7Fu, at(5, 29));                              // the SCSI ID frame
    const unsigned background = ScreenPixel(client.left + 2, client.top + 2);
    EXPECT_EQ(background, at(126, 75)) << "beyond the picture: the window's background";
    EXPECT_EQ(background, at(136, 88));
}

// No loader on any adapter (a loader at target 7, a drive in normal mode, another maker's
// CD-ROM; twelve adapters answer, ASPI reports one): every adapter number 0..9 is asked, then the
// jumper window is the only window; OK ends the program with exit code 0.
TEST(DiscoveryRun, NoLoaderShowsOnlyTheJumperWindowAndOkEndsTheProgram) {
    TDiscoveryCase world("no_loader_ok", R"(adapters = 1
answering = 0 1 2 3 4 5 6 7 8 9 10 11
[device 0 7]
kind = loader
[device 0 3]
kind = normal
[device 2 4]
kind = cdrom
[device 10 1]
kind = loader
)");
    TProgramRun run;
    ASSERT_TRUE(run.Start(world.Launch())) << run.Error();
    TWindowLog log(run);
    HWND jumper = run.WaitForWindow(TWindowQuery::OfClass("TJumperForm"), WindowWait);
    ASSERT_NE(nullptr, jumper);
    Sleep(300);
    EXPECT_EQ(1u, run.TopLevelWindows().size());
    ExpectJumperWindow(jumper);
    SaveDocsScreenshot(jumper, "jumper-window");

    const std::vector<TraceRecord> trace = world.Trace();
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), AdapterInquiries(trace));
    std::vector<std::pair<int, int>> targets;
    for (int a = 0; a <= 9; ++a)
        for (const auto &t : AllTargets(a))
            targets.push_back(t);
    EXPECT_EQ(targets, DeviceTypeRequests(trace));
    ExpectTargetCommands(trace, 0, 3, false);
    ExpectTargetCommands(trace, 2, 4, false);
    EXPECT_TRUE(ExecRequests(trace, 0, 7).empty());

    PressButton(ControlWithText(jumper, "OK"));
    ExpectEndAfterOnly(run, log, "TJumperForm");
    EXPECT_GE(1u, log.MostAtOnce()) << "two windows at once";
}

TEST(DiscoveryRun, NoLoaderAndTheJumperWindowsCloseBoxEndsTheProgram) {
    TDiscoveryCase world("no_loader_close", "adapters = 1\n");
    TProgramRun run;
    ASSERT_TRUE(run.Start(world.Launch())) << run.Error();
    TWindowLog log(run);
    HWND jumper = run.WaitForWindow(TWindowQuery::OfClass("TJumperForm"), WindowWait);
    ASSERT_NE(nullptr, jumper);
    SystemClose(jumper);
    ExpectEndAfterOnly(run, log, "TJumperForm");
}

// Starts the program, expects one error box titled as the program with `message` as the only
// window the program ever shows, presses OK and expects exit code 0.
void ExpectOnlyErrorBox(const TLaunch &launch, const std::string &message) {
    TProgramRun run;
    ASSERT_TRUE(run.Start(launch)) << run.Error();
    TWindowLog log(run);
    HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), WindowWait);
    ASSERT_NE(nullptr, box) << "no message box; program still running: " << run.Running();
    Sleep(300);
    TMessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(ProgramTitle, info.title);
    EXPECT_EQ(message, info.text);
    EXPECT_EQ(TBoxIcon::Error, info.icon) << BoxIconName(info.icon);
    ASSERT_NE(nullptr, info.okButton);
    PressButton(info.okButton);
    ExpectEndAfterOnly(run, log, "#32770");
}

// No host adapter, from our virtual manager (with SS_NO_ADAPTERS, as a real manager says it, and
// one whose every device refused to open for lack of rights) and from Wine's own wnaspi32.dll on
// a machine without SCSI devices: the fatal message alone, no jumper window.
TEST(DiscoveryRun, NoHostAdapterIsReportedAloneAndEndsWithZero) {
    const struct {
        const char *name, *scenario, *status, *message;
    } cases[] = {
        {"no_adapter", "adapters = 0\nsupport_status = 0xE8\n", "0xE8",
         "Scsi host adapter not found."},
        {"access_refused", "adapters = 0\nsupport_status = 0xE2\n", "0xE2",
         "Access to the SCSI devices was refused: this user may not use them. Run the program as "
         "an administrator, or as a user with the rights to the SCSI devices, and try again."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TDiscoveryCase world(c.name, c.scenario);
        ExpectOnlyErrorBox(world.Launch(), c.message);
        for (const TraceRecord &record : world.Trace())
            EXPECT_NE("req", record.kind) << "a request was sent";
        std::vector<std::string> record = ReadRecordLines(world.Folder());
        ASSERT_FALSE(record.empty());
        EXPECT_TRUE(IsRecordStartLine(record[0])) << record[0];
        EXPECT_EQ(
            std::vector<std::string>(record.begin() + 1, record.end()),
            (std::vector<std::string>{
                "wnaspi32.dll bound: " + StagedSimulatorDll() + ", no version resource",
                "ASPI host adapters: 0 (GetASPI32SupportInfo status " + std::string(c.status) + ")",
                "Fatal error box: \"" + std::string(c.message) + "\"",
                "Run ended before any drive was written",
            }));
    }
    {
        SCOPED_TRACE("Wine's builtin wnaspi32.dll");
        std::string folder = NewCaseFolder("discovery_builtin_aspi");
        WriteSampleFirmware(JoinPath(folder, "Firmware.bin"), 11, ImageRevision);
        ExpectOnlyErrorBox(ProgramLaunch(folder), "Scsi host adapter not found.");
    }
}

// A loader whose identity cannot be read: the command's own message, then the end; the main
// window is never shown and no later target is asked.
TEST(DiscoveryRun, FailingIdentityReadIsReportedAndTheMainWindowNeverShown) {
    TDiscoveryCase world("identity_fails", R"(adapters = 1
[device 0 1]
kind = loader
[device 0 4]
kind = loader
[fault]
target = 1
opcode = 0xE3
status = 0x01
hastat = 0x11
)");
    ExpectOnlyErrorBox(world.Launch(), "HA_Status: Selection Timeout.");
    const std::vector<TraceRecord> trace = world.Trace();
    ExpectTargetCommands(trace, 0, 1, true);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}), DeviceTypeRequests(trace));
    EXPECT_TRUE(ExecRequests(trace, 0, 4).empty());
}

} // namespace
