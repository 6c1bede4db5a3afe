// Sleep and the end of the session around one drive's write: the real progress window and worker
// against the fake drive, with recording stand-ins for the power and shut-down calls of Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingMessages.h"
#include "tests/unit/update/MessagePump.h"
#include "ui/Application.h"
#include "update/FirmwareImage.h"
#include "update/SessionGuard.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

// One log for the stand-ins and the drive, in the order things happened, with the thread each
// happened on.
std::mutex LogLock;
std::vector<std::string> Log;
std::vector<DWORD> LogThreads;
HWND ReasonWindow;

// What happens once a message box has been shown is noted "after the box".
void Note(const std::string &entry) {
    const bool afterABox = !RecordedMessages().empty();
    std::lock_guard<std::mutex> lock(LogLock);
    Log.push_back(afterABox ? entry + " after the box" : entry);
    LogThreads.push_back(GetCurrentThreadId());
}

EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE flags) {
    Note(flags == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) ? "stay awake"
         : flags == ES_CONTINUOUS                      ? "may sleep"
                                  : "execution state " + std::to_string(flags));
    return ES_CONTINUOUS;
}

BOOL WINAPI RecordReasonCreate(HWND window, LPCWSTR reason) {
    ReasonWindow = window;
    Note(std::wstring(reason) == L"Writing drive firmware. Do not switch off."
             ? "block with reason"
             : "block, wrong reason");
    return TRUE;
}

BOOL WINAPI RecordReasonDestroy(HWND window) {
    Note(window == ReasonWindow ? "unblock" : "unblock another window");
    return TRUE;
}

std::string OpcodeName(BYTE opcode) {
    switch (opcode) {
    case 0xE1:
        return "erase";
    case 0xE2:
        return "chunk";
    case 0xE4:
        return "checksum";
    }
    return "other";
}

// What the drive receives is checked elsewhere; here any image will do.
const std::vector<BYTE> Image(FirmwareImageSize);

class SessionGuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgressWindowTest();
        WriteForm->Image = Image.data();
        WriteForm->Target = 3;
        saved_ = SessionCalls;
        SessionCalls = {RecordExecutionState, RecordReasonCreate, RecordReasonDestroy};
        Log.clear();
        LogThreads.clear();
        ReasonWindow = nullptr;
        ExpectedChecksum[0] = 0x12;
        ExpectedChecksum[1] = 0x34;
    }
    void TearDown() override { SessionCalls = saved_; }

    // Answers like a good drive with the given checksum, but for chunk `failingChunk` (1..8, 0
    // for none), which the loader refuses with 09-85-00. At the erase the system asks whether it
    // may suspend; the answer is kept.
    void AnswerLikeADrive(std::vector<BYTE> checksum, int failingChunk = 0) {
        aspi.SetExecRule([this, checksum, failingChunk](const SRB_ExecSCSICmd &request) {
            Note(OpcodeName(request.CDBByte[0]));
            if (request.CDBByte[0] == 0xE1)
                suspendAnswer =
                    SendMessageA(WriteForm->Handle(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0);
            if (request.CDBByte[0] == 0xE2 &&
                std::count(Log.begin(), Log.end(), "chunk") == failingChunk)
                return FakeAspiManager::SenseError(0x09, 0x85, 0x00);
            return request.CDBByte[0] == 0xE4 ? FakeAspiManager::Good(checksum)
                                              : FakeAspiManager::Good();
        });
    }

    // One drive under a modal showing of the progress window, as the update run writes it.
    void WriteOneDrive() {
        AnswerLikeADrive({0x12, 0x34});
        WriteForm->ShowModal();
        WriteForm->WaitForWorker();
    }

    // A worker that ends the process stops its showing from ending: it runs without one.
    void WriteOneDriveWithoutShowing(std::vector<BYTE> checksum, int failingChunk = 0) {
        AnswerLikeADrive(checksum, failingChunk);
        TSledSCSI worker(true);
        worker.Resume();
        ASSERT_TRUE(PumpUntil([&] { return worker.Finished(); }));
    }

    FakeAspiManager aspi;
    LRESULT suspendAnswer = -1;

  private:
    TSessionCalls saved_;
};

std::vector<std::string> WriteWith(std::vector<std::string> before,
                                   std::vector<std::string> after) {
    std::vector<std::string> log = std::move(before);
    log.push_back("erase");
    log.insert(log.end(), 8, "chunk");
    log.push_back("checksum");
    log.insert(log.end(), after.begin(), after.end());
    return log;
}

TEST_F(SessionGuardTest, TheSystemStaysAwakeAndTheSessionBlockedFromTheEraseToTheComparison) {
    WriteOneDrive();
    EXPECT_EQ(Log, WriteWith({"stay awake", "block with reason"}, {"unblock", "may sleep"}));
    EXPECT_EQ(ReasonWindow, WriteForm->Handle());
    for (DWORD thread : LogThreads)
        EXPECT_EQ(thread, GetCurrentThreadId()) << "not on the user-interface thread";
    EXPECT_EQ(suspendAnswer, BROADCAST_QUERY_DENY) << "a suspend asked for during the write";
    EXPECT_NE(SendMessageA(WriteForm->Handle(), WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0),
              BROADCAST_QUERY_DENY)
        << "after the write the system may suspend";

    // The next drive holds and gives back again.
    Log.clear();
    WriteOneDrive();
    EXPECT_EQ(Log, WriteWith({"stay awake", "block with reason"}, {"unblock", "may sleep"}));
}

// Windows XP has no block reason: the write goes on with the execution state alone.
TEST_F(SessionGuardTest, WithoutTheShutdownBlockCallsTheWriteStillRuns) {
    SessionCalls.shutdownBlockReasonCreate = nullptr;
    SessionCalls.shutdownBlockReasonDestroy = nullptr;
    WriteOneDrive();
    EXPECT_EQ(Log, WriteWith({"stay awake"}, {"may sleep"}));
    EXPECT_EQ(aspi.ExecSubmissions().size(), 10u);
    EXPECT_TRUE(RecordedMessages().empty());
}

// A failed step gives the hold back before its box, which then stands with nothing held: the
// command's own box (shown inside the transport) and the comparison's.
TEST_F(SessionGuardTest, AFailedStepReleasesTheHoldBeforeItsBox) {
    WriteOneDriveWithoutShowing({0x12, 0x34}, 3);
    EXPECT_EQ(Log, (std::vector<std::string>{"stay awake", "block with reason", "erase", "chunk",
                                             "chunk", "chunk", "unblock", "may sleep"}));
    EXPECT_EQ(RecordedMessageTexts(),
              std::vector<std::string>{"Flash rom write error. (Code 09-85-00)"});
    Log.clear();
    ResetRecordedMessages();
    WriteOneDriveWithoutShowing({0x12, 0x35});
    EXPECT_EQ(Log, WriteWith({"stay awake", "block with reason"}, {"unblock", "may sleep"}));
    EXPECT_EQ(RecordedMessageTexts(), std::vector<std::string>{"Firmware data check error."});
}

// The pair is looked up by name where it is called from, so the program does not import it.
TEST(SessionCallsResolution, TheShutdownBlockPairIsOptional) {
    const TSessionCalls none = ResolveSessionCalls(nullptr);
    EXPECT_EQ(none.shutdownBlockReasonCreate, nullptr);
    EXPECT_EQ(none.shutdownBlockReasonDestroy, nullptr);
    EXPECT_NE(none.setThreadExecutionState, nullptr);

    // A module without them, as user32 of Windows XP.
    const TSessionCalls lacking = ResolveSessionCalls(GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(lacking.shutdownBlockReasonCreate, nullptr);
    EXPECT_EQ(lacking.shutdownBlockReasonDestroy, nullptr);

    HMODULE user32 = GetModuleHandleA("user32.dll");
    const TSessionCalls offered = ResolveSessionCalls(user32);
    EXPECT_EQ(reinterpret_cast<void *>(offered.shutdownBlockReasonCreate),
              reinterpret_cast<void *>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
    EXPECT_EQ(reinterpret_cast<void *>(offered.shutdownBlockReasonDestroy),
              reinterpret_cast<void *>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
    EXPECT_NE(offered.shutdownBlockReasonCreate, nullptr) << "this Windows offers the pair";
}

} // namespace
