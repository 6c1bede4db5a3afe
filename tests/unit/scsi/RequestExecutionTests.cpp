// One request's life: its own event, the timed wait only while the manager holds the request,
// the poll until the status is final for every command, the 60 s bound, the messages taken while
// it waits, and the failure to create an event.
#include <atomic>
#include <thread>

#include "scsi/DriveCommands.h"
#include "scsi/RequestExecution.h"
#include "tests/unit/scsi/CommandCases.h"
#include "tests/unit/scsi/TransportFixture.h"

namespace {

using Kind = RecordingEventCalls::Kind;
using RequestExecutionTest = TransportTest;

FakeAspiManager::ExecAnswer CompletingLater(FakeAspiManager::ExecAnswer answer, DWORD delayMs,
                                            bool signal) {
    answer.completion = FakeAspiManager::Completion::Later;
    answer.delayMs = delayMs;
    answer.signalEvent = signal;
    return answer;
}

FakeAspiManager::ExecAnswer NeverCompleting() {
    FakeAspiManager::ExecAnswer answer;
    answer.completion = FakeAspiManager::Completion::Manual;
    return answer;
}

TEST_F(RequestExecutionTest, EachRequestHasItsOwnEventCreatedResetAndClosed) {
    HANDLE sharedEventAtSubmission = nullptr;
    aspi.SetExecRule([&](const SRB_ExecSCSICmd &) {
        sharedEventAtSubmission = SharedRequestEvent;
        return FakeAspiManager::Good();
    });
    for (const CommandCase &command : AllCommandCases()) {
        SCOPED_TRACE(command.name);
        RecordingEventCalls calls;
        const size_t sentBefore = aspi.Submissions().size();

        ASSERT_EQ(command.send(), 0);

        const auto log = calls.Calls();
        ASSERT_EQ(log.size(), 3u); // created, reset, closed; no wait for an immediate answer
        const HANDLE event = log[0].handle;
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(log[0].kind, Kind::CreateEvent);
        EXPECT_FALSE(log[0].securityAttributes);
        EXPECT_FALSE(log[0].manualReset);
        EXPECT_FALSE(log[0].initialState);
        EXPECT_FALSE(log[0].named);
        EXPECT_EQ(log[1].kind, Kind::ResetEvent);
        EXPECT_EQ(log[1].handle, event);
        EXPECT_EQ(log[2].kind, Kind::CloseHandle);
        EXPECT_EQ(log[2].handle, event);

        const auto sent = aspi.Submissions();
        ASSERT_EQ(sent.size(), sentBefore + 1);
        EXPECT_EQ(sent.back().exec.SRB_PostProc, event);
        EXPECT_LT(log[1].sequence, sent.back().sequence);
        EXPECT_GT(log[2].sequence, sent.back().sequence);
        const bool shared = command.block == &SharedRequest;
        EXPECT_EQ(sharedEventAtSubmission, shared ? event : nullptr);
        EXPECT_EQ(SharedRequestEvent, nullptr); // closed, so no longer held
    }
}

TEST_F(RequestExecutionTest, TimedWaitOnlyWhileTheManagerHoldsTheRequest) {
    FakeAspiManager::ExecAnswer failedAtOnce;
    failedAtOnce.status = SS_INVALID_SRB;
    struct Case {
        const char *name;
        FakeAspiManager::ExecAnswer answer;
        bool waits;
    };
    const Case cases[] = {
        {"completed at once", FakeAspiManager::Good(), false},
        {"failed at once", failedAtOnce, false},
        {"error at once", FakeAspiManager::SenseError(0x05, 0x20, 0x00), false},
        {"pending, then signalled", CompletingLater(FakeAspiManager::Good(), 20, true), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEventCalls calls;
        aspi.QueueExecAnswer(c.answer);
        ASSERT_EQ(TestUnitReady(1), 0);
        const auto waits = calls.CallsOf(Kind::Wait);
        if (c.waits) {
            ASSERT_EQ(waits.size(), 1u);
            EXPECT_EQ(waits[0].milliseconds, 1000u);
            EXPECT_EQ(waits[0].handle, calls.CallsOf(Kind::CreateEvent)[0].handle);
            EXPECT_LT(waits[0].sequence, calls.CallsOf(Kind::CloseHandle)[0].sequence);
        } else {
            EXPECT_TRUE(waits.empty());
        }
    }
}

// The event is not signalled and the timed wait runs out before the drive answers: every
// command, TEST UNIT READY and INQUIRY included, still returns only with the final status, so
// its block is never refilled while the manager owns it.
TEST_F(RequestExecutionTest, EveryCommandWaitsPastTheTimedWaitForTheFinalStatus) {
    events.SkipWaits(true);
    for (const CommandCase &command : AllCommandCases()) {
        SCOPED_TRACE(command.name);
        ResetRecordedMessages();
        aspi.QueueExecAnswer(
            CompletingLater(FakeAspiManager::SenseError(0x05, 0x26, 0x00), 30, false));

        EXPECT_EQ(command.send(), command.judged ? 1 : 0);

        EXPECT_EQ(command.block->SRB_Status, SS_ERR);
        EXPECT_EQ(RecordedMessages().size(), command.judged ? 1u : 0u);
        aspi.JoinLaterCompletions();
    }
}

TEST_F(RequestExecutionTest, RequestPendingSixtySecondsEndsTheProgram) {
    events.SkipWaits(true);
    for (const CommandCase &command : AllCommandCases()) {
        SCOPED_TRACE(command.name);
        ResetRecordedMessages();
        RecordingEventCalls calls;
        calls.SkipWaits(true);
        // The tick count wraps round during the wait.
        const DWORD start = 0xFFFF8000;
        DWORD now = start - 1;
        calls.SetClock([&] { return ++now; });
        aspi.QueueExecAnswer(NeverCompleting());

        EXPECT_THROW(command.send(), ProcessEnded);

        EXPECT_EQ(RecordedMessages(),
                  std::vector<ShownMessage>{ErrorBoxWith("SCSI command timed out.")});
        EXPECT_GE(DWORD(now - start), 60000u);
        EXPECT_LE(DWORD(now - start), 60002u);
        // The manager still owns the block and its event.
        EXPECT_TRUE(calls.CallsOf(Kind::CloseHandle).empty());
    }
}

TEST_F(RequestExecutionTest, RequestCompletingJustInsideTheBoundGoesOn) {
    events.SkipWaits(true);
    const DWORD start = 1000;
    DWORD now = start - 1;
    events.SetClock([&] {
        ++now;
        if (now - start == 59998) {
            aspi.CompletePending();
        }
        return now;
    });
    FakeAspiManager::ExecAnswer answer = FakeAspiManager::Good({0x12, 0x34});
    answer.completion = FakeAspiManager::Completion::Manual;
    aspi.QueueExecAnswer(answer);

    EXPECT_EQ(ReadFlashChecksum(0), 0);

    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_EQ(SharedDataBuffer[0], 0x12);
    EXPECT_EQ(events.CallsOf(Kind::CloseHandle).size(), 1u);
}

// A window of the test's thread that notes whether a message sent to it and one posted to it were
// handled while SharedRequest was still pending.
constexpr UINT SentQuery = WM_APP + 1, PostedCall = WM_APP + 2;
std::atomic<bool> SentAnsweredWhilePending, PostedHandled;

LRESULT CALLBACK NotingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == SentQuery)
        SentAnsweredWhilePending = SharedRequest.SRB_Status == SS_PENDING;
    if (message == PostedCall)
        PostedHandled = true;
    return DefWindowProcA(window, message, wParam, lParam);
}

// Windows' session-end query reaches the window during a command, in the timed wait (the clock
// stands still, so the poll after it would never take a message) and in the poll after it (the
// wait returns at once); a posted message (as the worker's hand-off is) waits for the loop.
TEST_F(RequestExecutionTest, MessagesSentDuringARequestAreAnsweredPostedOnesWait) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = NotingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "RequestExecutionTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    for (bool skipTimedWait : {false, true}) {
        SCOPED_TRACE(skipTimedWait ? "while polling after the timed wait" : "in the timed wait");
        events.SkipWaits(skipTimedWait);
        events.SetClock(skipTimedWait ? std::function<DWORD()>() : [] { return DWORD(1000); });
        SentAnsweredWhilePending = PostedHandled = false;
        FakeAspiManager::ExecAnswer answer = FakeAspiManager::Good();
        answer.completion = FakeAspiManager::Completion::Manual;
        aspi.QueueExecAnswer(answer);
        const std::size_t sentBefore = aspi.ExecSubmissions().size();
        std::thread other([&] {
            for (int i = 0; i < 1000 && aspi.ExecSubmissions().size() == sentBefore; ++i)
                Sleep(10);
            PostMessageA(window, PostedCall, 0, 0);
            DWORD_PTR ignored;
            SendMessageTimeoutA(window, SentQuery, 0, 0, SMTO_NORMAL, 5000, &ignored);
            aspi.CompletePending();
        });

        EXPECT_EQ(TestUnitReady(1), 0);
        other.join();

        EXPECT_TRUE(SentAnsweredWhilePending);
        EXPECT_FALSE(PostedHandled);
        MSG posted;
        EXPECT_TRUE(PeekMessageA(&posted, window, PostedCall, PostedCall, PM_REMOVE));
    }
    DestroyWindow(window);
}

TEST_F(RequestExecutionTest, WithoutAnEventNothingIsSentAndEachCommandSaysSo) {
    events.FailEventCreation(true);
    const auto commands = AllCommandCases();
    for (const CommandCase &command : commands) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(command.send(), 1);
    }
    EXPECT_EQ(RecordedMessages(),
              std::vector<ShownMessage>(commands.size(), ErrorBoxWith("Can not create Event.")));
    EXPECT_TRUE(aspi.Submissions().empty());
    EXPECT_EQ(events.Calls().size(), commands.size()); // only the attempts to create
    EXPECT_EQ(SharedRequestEvent, nullptr);
    EXPECT_EQ(RecordedProcessEnds(), 0);
}

} // namespace
