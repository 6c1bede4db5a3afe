// A second copy of the program, started while the first one runs: it brings the first copy's
// window to the front, shows nothing of its own, ends with exit code 0 and never reaches the
// virtual drive; the first copy goes on and updates its drives as before. Where the first copy
// shows no window, the second one says that the program is already running; a mutex that is
// merely held open, not owned, does not make a start a second copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/robot/RecordLines.h"
#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

namespace {

const char AlreadyRunningMessage[] =
    "Another copy of this program is already running. Only one copy may write drives at a time: "
    "use that copy, or start this one again after it has ended.";
// The program's one-copy mutex, machine-wide.
const char OnlyCopyMutexName[] = "Global\\M770BUpdate.OnlyCopy";
constexpr DWORD SecondCopyLimitMs = 5000;
// From a button that ends the program to its end.
constexpr DWORD EndLimitMs = 5000;

// A window of the test's own that holds the foreground before the second copy starts, so that
// only the second copy can have put the first copy's window in front of it.
class TForegroundHolder {
  public:
    TForegroundHolder() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "SecondCopyTestHolder";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, windowClass.lpszClassName, "holder", WS_OVERLAPPEDWINDOW, 10,
                                  10, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        Pump(200);
    }
    ~TForegroundHolder() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }

    // Handles this thread's messages (the activation changes other processes cause) for `ms`.
    static void Pump(DWORD ms) {
        const DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(5);
        } while (GetTickCount() - start < ms);
    }

  private:
    HWND window_ = nullptr;
};

// What a second copy did: its exit code, whether it ever showed a window, and which window had
// the foreground after it.
struct SecondCopy {
    DWORD exitCode = TProgramRun::NotEnded;
    bool showedAWindow = false;
    HWND foreground = nullptr;
};

// `started` runs as soon as the second copy's process exists.
SecondCopy RunSecondCopy(const TUpdateWorld &world,
                         const std::function<void()> &started = nullptr) {
    SecondCopy result;
    TLaunch launch = world.Launch();
    launch.waitForIdle = false; // a second copy takes no input until it shows a box
    TProgramRun second(launch);
    EXPECT_TRUE(second.Started());
    if (started)
        started();
    const DWORD start = GetTickCount();
    while (second.Running() && GetTickCount() - start < SecondCopyLimitMs) {
        result.showedAWindow |= !second.TopLevelWindows().empty();
        TForegroundHolder::Pump(1);
    }
    result.exitCode = second.WaitForExit(0);
    TForegroundHolder::Pump(100);
    result.foreground = GetForegroundWindow();
    return result;
}

// The processes that loaded the virtual drive, by the process ids of its load lines.
std::vector<uint64_t> LoadingProcesses(const TUpdateWorld &world) {
    std::vector<uint64_t> processes;
    for (const TraceRecord &record : world.Trace())
        if (record.kind == "load")
            processes.push_back(record.Number("pid"));
    return processes;
}

// Host-adapter questions in the trace: GetASPI32SupportInfo calls and SC_HA_INQUIRY requests.
int AdapterQuestions(const TUpdateWorld &world) {
    int count = 0;
    for (const TraceRecord &record : world.Trace())
        count += record.kind == "info" || (record.kind == "req" && record.Number("cmd") == 0x00);
    return count;
}

int VisibleTickBoxes(HWND mainWindow) {
    int count = 0;
    for (HWND box : ChildWindows(mainWindow, "Button"))
        count += IsWindowVisible(box) && (GetWindowLongA(box, GWL_STYLE) & 0x0F) == BS_AUTOCHECKBOX;
    return count;
}

void ExpectDrivesUpdated(const TUpdateWorld &world, const RunWatch &watch,
                         const std::vector<BYTE> &image, const std::vector<int> &targets) {
    EXPECT_EQ(watch.box.text, SuccessMessage);
    EXPECT_EQ(watch.exitCode, 0u);
    for (int target : targets) {
        SCOPED_TRACE("target " + std::to_string(target));
        EXPECT_EQ(CheckWriteSequence(world.WriteRequests(target), target, image), "");
        EXPECT_TRUE(world.Flash(target) == image) << "the flash differs from Firmware.bin";
    }
}

// Handles open on the program's one-copy mutex, the test's own not counted (-1 where it cannot
// be asked). Each copy opens the mutex before anything else it does and keeps it to its end, so
// a second copy holds one from the moment it has met the first copy's.
int OnlyCopyMutexHandles() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, OnlyCopyMutexName);
    if (!mutex)
        return -1;
    using NtQueryObjectCall = LONG(NTAPI *)(HANDLE, int, void *, ULONG, ULONG *);
    auto query = reinterpret_cast<NtQueryObjectCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    struct { // PUBLIC_OBJECT_BASIC_INFORMATION
        ULONG attributes;
        ACCESS_MASK grantedAccess;
        ULONG handleCount, pointerCount, reserved[10];
    } info = {};
    const bool asked =
        query && query(mutex, 0 /* ObjectBasicInformation */, &info, sizeof info, nullptr) >= 0;
    CloseHandle(mutex);
    return asked ? static_cast<int>(info.handleCount) - 1 : -1;
}

// Whether the program has sent an identity read (0xE3) to a drive.
bool IdentityAsked(const TUpdateWorld &world) {
    for (const TraceRecord &record : world.Trace())
        if (record.kind == "req" && record.Text("cdb").rfind("E3", 0) == 0)
            return true;
    return false;
}

// The second copy starts while the first copy's main window is up, or while the first copy
// still searches its drives (target 1 holds its identity read until the second copy has opened
// the one-copy mutex, and so looks for the first copy's window before there is one): it then
// waits for the main window, which follows within its 3 s, instead of saying that the program
// already runs.
TEST(SecondCopy, WhileTheFirstCopyRunsItBringsItsMainWindowToTheFrontAndEnds) {
    struct Case {
        const char *world;
        bool stillSearching;
    };
    for (const Case &c : {Case{"second-copy-main", false}, Case{"second-copy-searching", true}}) {
        SCOPED_TRACE(c.world);
        TUpdateWorld world(c.world);
        world.AddLoader({1});
        world.AddLoader({4});
        if (c.stillSearching)
            world.AddFault("target = 1\nopcode = 0xE3\naction = hold");
        world.Prepare();
        const std::vector<BYTE> image = world.WriteSampleImage(21, "2.00");
        TLaunch launch = world.Launch();
        launch.waitForIdle = false; // a first copy still searching is not idle yet
        TProgramRun first(launch);
        if (c.stillSearching)
            ASSERT_TRUE(WaitUntil([&] { return IdentityAsked(world); }, 30000));
        else
            ASSERT_NE(WaitForMainWindow(first), nullptr);
        const int questionsBefore = AdapterQuestions(world);

        TForegroundHolder holder;
        ASSERT_EQ(GetForegroundWindow(), holder.Handle()) << "the test cannot take the foreground";
        const SecondCopy second = RunSecondCopy(world, [&] {
            EXPECT_TRUE(!c.stillSearching ||
                        WaitUntil([] { return OnlyCopyMutexHandles() == 2; }, 30000));
            world.ReleaseHeld();
        });
        HWND mainWindow = WaitForMainWindow(first);
        ASSERT_NE(mainWindow, nullptr);
        EXPECT_EQ(VisibleTickBoxes(mainWindow), 2);
        EXPECT_EQ(second.exitCode, 0u) << "the second copy did not end within 5 s";
        EXPECT_FALSE(second.showedAWindow);
        EXPECT_EQ(second.foreground, mainWindow)
            << "the first copy's window was not brought forward";

        EXPECT_EQ(LoadingProcesses(world), std::vector<uint64_t>{first.ProcessId()})
            << "only the first copy may load the ASPI manager";
        EXPECT_EQ(AdapterQuestions(world), questionsBefore);
        EXPECT_GT(questionsBefore, 0);

        RunWatch watch = WatchUpdate(first, mainWindow);
        ExpectDrivesUpdated(world, watch, image, {1, 4});
        EXPECT_EQ(LoadingProcesses(world), std::vector<uint64_t>{first.ProcessId()});
    }
}

// During the write the progress window is the one in front; a second copy, started while each
// drive holds its third chunk, leaves the write alone: every drive gets exactly its one write
// sequence.
TEST(SecondCopy, DuringTheWriteItLeavesTheDrivesAlone) {
    TUpdateWorld world("second-copy-write");
    world.AddLoader({2, "VANDREL ZD-M770B LOADER 1.10", 200, 100, 100});
    world.AddLoader({5, "VANDREL ZD-M770B LOADER 1.10", 200, 100, 100});
    world.HoldStep(2, 3);
    world.HoldStep(5, 3);
    world.Prepare();
    const std::vector<BYTE> image = world.WriteSampleImage(22, "2.00");
    TProgramRun first(world.Launch());
    HWND mainWindow = WaitForMainWindow(first);
    ASSERT_NE(mainWindow, nullptr);
    std::vector<SecondCopy> seconds;
    HWND progressWindow = nullptr;
    RunWatch watch = WatchUpdate(first, mainWindow, 120000, [&] {
        world.ReleaseHeld([&](const TraceRecord &) {
            progressWindow = ProgressWindowOf(first);
            seconds.push_back(RunSecondCopy(world));
        });
    });
    ASSERT_EQ(seconds.size(), 2u) << "one second copy per drive's showing";
    for (const SecondCopy &second : seconds) {
        EXPECT_EQ(second.exitCode, 0u);
        EXPECT_FALSE(second.showedAWindow);
    }
    EXPECT_EQ(seconds.front().foreground, progressWindow);
    ExpectDrivesUpdated(world, watch, image, {2, 5});
    // The record tells the first copy's run alone: one start line.
    const std::vector<std::string> record = ReadRecordLines(world.WorkFolder());
    EXPECT_EQ(std::count_if(record.begin(), record.end(), IsRecordStartLine), 1);
    EXPECT_EQ(LoadingProcesses(world), std::vector<uint64_t>{first.ProcessId()});
}

// Without a loader the first copy shows the jumper window; that one comes to the front.
TEST(SecondCopy, WhileTheJumperWindowIsUpItBringsThatToTheFront) {
    TUpdateWorld world("second-copy-jumper");
    world.Prepare();
    world.WriteSampleImage(23, "2.00");
    TProgramRun first(world.Launch());
    HWND jumper = first.WaitForWindow(TWindowQuery::OfClass("TJumperForm"), 30000);
    ASSERT_NE(jumper, nullptr);
    TForegroundHolder holder;
    const SecondCopy second = RunSecondCopy(world);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_FALSE(second.showedAWindow);
    EXPECT_EQ(second.foreground, jumper);
    EXPECT_EQ(LoadingProcesses(world), std::vector<uint64_t>{first.ProcessId()});
    PressButton(ControlWithText(jumper, "OK"));
    EXPECT_EQ(first.WaitForExit(10000), 0u);
}

// The program's machine-wide mutex, held by the test process from before the program starts:
// open only, or owned by the test's thread.
class THeldCopyMutex {
  public:
    explicit THeldCopyMutex(bool owned)
        : mutex_(CreateMutexA(nullptr, FALSE, OnlyCopyMutexName)) {
        owned_ = owned && mutex_ && WaitForSingleObject(mutex_, 0) == WAIT_OBJECT_0;
    }
    ~THeldCopyMutex() {
        if (owned_)
            ReleaseMutex(mutex_);
        if (mutex_)
            CloseHandle(mutex_);
    }
    THeldCopyMutex(const THeldCopyMutex &) = delete;
    THeldCopyMutex &operator=(const THeldCopyMutex &) = delete;
    bool Holds(bool owned) const { return mutex_ && owned_ == owned; }

  private:
    HANDLE mutex_;
    bool owned_ = false;
};

// Only a live owner of the mutex is another copy. A copy that has ended may still hold it open
// (its last drive request pending in the driver keeps its handles): the program then starts as
// if nothing held it. An owner with no window of the program anywhere (a copy in another
// session, or one still searching its drives): the program says that it already runs, ends with
// 0 at OK and never loads the virtual drive.
TEST(SecondCopy, OnlyALiveOwnerOfTheMutexIsAnotherCopy) {
    struct Case {
        const char *world;
        bool owned;
        const char *windowClass; // of the program's one window
        const char *title;
        const char *boxText; // "" for a window that is no message box
        int tickBoxes;
        const char *button;   // the one that ends the program
        std::ptrdiff_t loads; // load lines of the program's process in the trace
    };
    const Case cases[] = {
        {"second-copy-stale-mutex", false, "TMainForm", "ZD-M770B Firmware update 2.00", "", 2,
         "CANCEL", 1},
        {"second-copy-no-window", true, "#32770", "ZD-M770B Firmware update", AlreadyRunningMessage,
         0, "OK", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.world);
        TUpdateWorld world(c.world);
        world.AddLoader({1});
        world.AddLoader({4});
        world.Prepare();
        world.WriteSampleImage(24, "2.00");
        THeldCopyMutex held(c.owned);
        ASSERT_TRUE(held.Holds(c.owned)) << "the test cannot hold the program's mutex";
        TProgramRun program(world.Launch());
        HWND window = WaitForAnsweringWindow(program, c.windowClass);
        if (!window) {
            ADD_FAILURE() << "no window of class " << c.windowClass;
            continue;
        }
        EXPECT_EQ(program.TopLevelWindows(), std::vector<HWND>{window}) << "not its only window";
        EXPECT_EQ(WindowTextOf(window), c.title);
        EXPECT_EQ(ReadMessageBox(window).text, c.boxText);
        EXPECT_EQ(VisibleTickBoxes(window), c.tickBoxes);
        PressButton(ControlWithText(window, c.button));
        EXPECT_EQ(program.WaitForExit(EndLimitMs), 0u);
        const std::vector<uint64_t> loading = LoadingProcesses(world);
        EXPECT_EQ(std::count(loading.begin(), loading.end(), program.ProcessId()), c.loads);
    }
}

} // namespace
