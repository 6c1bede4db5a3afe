// A worker that cannot start, and one whose step cannot be handed to the user-interface thread:
// the progress window goes, the toolkit's exception box shows why, the process ends, and the
// drive receives nothing more. The second case destroys the application's window, so these run
// in a program of their own, that case last.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scsi/RequestBlocks.h"
#include "tests/support/ProcessWindows.h"
#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingMessages.h"
#include "tests/unit/update/MessagePump.h"
#include "ui/Application.h"
#include "ui/Exception.h"
#include "update/FirmwareImage.h"
#include "update/SessionGuard.h"
#include "update/WorkerStart.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

std::vector<BYTE> TestImage(FirmwareImageSize);

// The hold on the session (sleep and shut-down) as Windows would see it, and the thread that
// gave it back last.
std::atomic<bool> SessionHeld{false};
std::atomic<DWORD> ReleasedOn{0};

EXECUTION_STATE WINAPI NoteExecutionState(EXECUTION_STATE flags) {
    SessionHeld = flags != ES_CONTINUOUS;
    if (flags == ES_CONTINUOUS)
        ReleasedOn = GetCurrentThreadId();
    return ES_CONTINUOUS;
}

// Answers the message boxes of this process with OK, from a thread of its own (a box shown on
// the test's thread blocks it), and notes what each showed and whether the progress window was
// still on the screen.
class TBoxAnswerer {
  public:
    struct Box {
        std::string title, text;
        bool progressVisible;
        bool sessionHeld;
    };

    TBoxAnswerer() : thread_([this] { Answer(); }) {}
    ~TBoxAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Box> Boxes() const {
        std::lock_guard<std::mutex> lock(lock_);
        return boxes_;
    }

  private:
    static std::string TextOf(HWND window) {
        char text[512] = {};
        GetWindowTextA(window, text, sizeof text);
        return text;
    }

    // The first visible message box of this process; null when none shows.
    static HWND ShownBox() {
        for (HWND window : ProcessTopLevelWindows(GetCurrentProcessId())) {
            char name[16] = {};
            GetClassNameA(window, name, sizeof name);
            if (std::string(name) == "#32770")
                return window;
        }
        return nullptr;
    }

    void Answer() {
        while (!stop_) {
            HWND box = ShownBox();
            HWND text = box ? GetDlgItem(box, 0xFFFF) : nullptr;
            if (text && GetDlgItem(box, IDOK)) {
                {
                    std::lock_guard<std::mutex> lock(lock_);
                    boxes_.push_back({TextOf(box), TextOf(text),
                                      WriteForm && IsWindowVisible(WriteForm->Handle()) != FALSE,
                                      SessionHeld});
                }
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                while (!stop_ && IsWindow(box))
                    Sleep(5);
            }
            Sleep(10);
        }
    }

    mutable std::mutex lock_;
    std::vector<Box> boxes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class WorkerFailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgressWindowTest();
        WriteForm->Image = TestImage.data();
        WriteForm->Target = 2;
        ExpectedChecksum[0] = 0;
        ExpectedChecksum[1] = 0;
        saved_ = SessionCalls;
        SessionCalls = {NoteExecutionState, nullptr, nullptr};
        SessionHeld = false;
        ReleasedOn = 0;
    }
    void TearDown() override { SessionCalls = saved_; }

    // After the end, nothing more reaches the drive.
    void ExpectNoMoreRequestsThan(std::size_t count) {
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(aspi.ExecSubmissions().size(), count);
    }

    FakeAspiManager aspi;

  private:
    TSessionCalls saved_;
};

TThread *FailToMakeAWorker() {
    throw Exception("Cannot create a thread");
}

TEST_F(WorkerFailureTest, AWorkerThatCannotStartEndsTheProcessWithTheExceptionBox) {
    TThread *(*const maker)() = NewDriveWorker;
    NewDriveWorker = FailToMakeAWorker;
    TBoxAnswerer answerer;
    EXPECT_THROW(WriteForm->ShowModal(), ProcessEnded);
    NewDriveWorker = maker;

    ASSERT_EQ(answerer.Boxes().size(), 1u);
    const TBoxAnswerer::Box box = answerer.Boxes().front();
    EXPECT_EQ(box.text, "Cannot create a thread");
    EXPECT_EQ(box.title, Application.Title());
    EXPECT_FALSE(box.progressVisible) << "the top-most progress window would cover the box";
    EXPECT_EQ(RecordedProcessEnds(), 1);
    EXPECT_TRUE(RecordedMessages().empty());
    ExpectNoMoreRequestsThan(0);
}

// The application's window goes while the third chunk is written (on the user-interface
// thread, inside the step): the fourth chunk's hand-off cannot be posted.
TEST_F(WorkerFailureTest, AStepThatCannotBeHandedOverEndsTheProcessWithTheExceptionBox) {
    aspi.SetExecRule([](const SRB_ExecSCSICmd &request) {
        const DWORD offset = (DWORD(request.CDBByte[2]) << 24) | (DWORD(request.CDBByte[3]) << 16) |
                             (DWORD(request.CDBByte[4]) << 8) | request.CDBByte[5];
        if (request.CDBByte[0] == 0xE2 && offset == 0x10000)
            DestroyWindow(Application.Handle());
        return FakeAspiManager::Good();
    });
    TBoxAnswerer answerer;
    TSledSCSI worker(true);
    worker.Resume();
    ASSERT_TRUE(PumpUntil([&] { return worker.Finished(); }));

    ASSERT_EQ(answerer.Boxes().size(), 1u);
    const TBoxAnswerer::Box box = answerer.Boxes().front();
    EXPECT_EQ(box.text, "Cannot hand a call to the user-interface thread");
    EXPECT_EQ(box.title, Application.Title());
    EXPECT_FALSE(box.progressVisible);
    // The worker failed on its own thread; the hold taken at the erase went first, on the
    // user-interface thread that took it.
    EXPECT_FALSE(box.sessionHeld) << "the box stood with the session held";
    EXPECT_EQ(ReleasedOn, GetCurrentThreadId());
    EXPECT_EQ(RecordedProcessEnds(), 1);
    EXPECT_TRUE(RecordedMessages().empty());
    ExpectNoMoreRequestsThan(4); // the erase and chunks 1 to 3
}

} // namespace
