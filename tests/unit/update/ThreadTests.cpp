// The thread class: suspended creation, Resume, self-release, and the blocking hand-off to the
// user-interface thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/unit/update/MessagePump.h"
#include "ui/Exception.h"
#include "ui/Thread.h"

namespace {

class ThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { InitialiseTestApplication(); }
};

// Hands three calls to the user-interface thread and checks after each that it has already run.
class TCountingThread : public TThread {
  public:
    TCountingThread() : TThread(true) {}
    std::vector<DWORD> callThreads;
    std::vector<int> seenAfterCall;
    DWORD workerThread = 0;

  protected:
    void Execute() override {
        workerThread = GetCurrentThreadId();
        for (int i = 0; i < 3; ++i) {
            Synchronize(&TCountingThread::Count);
            seenAfterCall.push_back(static_cast<int>(callThreads.size()));
        }
    }

  private:
    void Count() {
        Sleep(20); // a slow step: the worker must still be waiting for it
        callThreads.push_back(GetCurrentThreadId());
    }
};

TEST_F(ThreadTest, SynchronizeRunsEachCallOnTheInterfaceThreadAndWaitsForIt) {
    TCountingThread thread;
    thread.Resume();
    ASSERT_TRUE(PumpUntil([&] { return thread.Finished(); }));
    EXPECT_NE(thread.workerThread, GetCurrentThreadId());
    EXPECT_EQ(thread.callThreads, std::vector<DWORD>(3, GetCurrentThreadId()));
    EXPECT_EQ(thread.seenAfterCall, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(thread.FatalException(), "");
}

TEST_F(ThreadTest, NothingRunsBeforeResume) {
    TCountingThread thread;
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(thread.workerThread, 0u);
    EXPECT_FALSE(thread.Finished());
    thread.Resume();
    thread.Resume(); // a second Resume changes nothing
    ASSERT_TRUE(PumpUntil([&] { return thread.Finished(); }));
    EXPECT_EQ(thread.callThreads.size(), 3u);
}

class TNeverResumed : public TThread {
  public:
    explicit TNeverResumed(bool &ran) : TThread(true), ran_(ran) {}

  protected:
    void Execute() override { ran_ = true; }

  private:
    bool &ran_;
};

TEST_F(ThreadTest, AThreadNeverResumedEndsWithoutRunning) {
    bool ran = false;
    delete new TNeverResumed(ran);
    EXPECT_FALSE(ran);
}

class TStartedAtOnce : public TThread {
  public:
    TStartedAtOnce() : TThread(false) {}

  protected:
    void Execute() override {}
};

TEST_F(ThreadTest, OnlySuspendedCreationIsOffered) {
    EXPECT_THROW(TStartedAtOnce thread; (void)thread, Exception);
}

// What a synchronised call throws comes back to the worker, not into the message loop; what
// Execute lets through stops at the thread's entry point.
class TThrowingThread : public TThread {
  public:
    TThrowingThread() : TThread(true) {}
    std::string caughtInWorker;

  protected:
    void Execute() override {
        try {
            Synchronize(&TThrowingThread::Fail);
        } catch (const std::runtime_error &e) {
            caughtInWorker = e.what();
        }
        Synchronize(&TThrowingThread::Fail); // not caught here
        caughtInWorker = "went on after an uncaught exception";
    }

  private:
    void Fail() { throw std::runtime_error("step failed"); }
};

TEST_F(ThreadTest, ExceptionsReachTheWorkerAndStopAtTheEntryPoint) {
    TThrowingThread thread;
    thread.Resume();
    ASSERT_TRUE(PumpUntil([&] { return thread.Finished(); }));
    EXPECT_EQ(thread.caughtInWorker, "step failed");
    EXPECT_EQ(thread.FatalException(), "step failed");
}

class TSelfFreeing : public TThread {
  public:
    TSelfFreeing(std::atomic<bool> &destroyed, std::vector<std::string> &events)
        : TThread(true), destroyed_(destroyed), events_(events) {}
    ~TSelfFreeing() override { destroyed_ = true; }

  protected:
    void Execute() override { Synchronize(&TSelfFreeing::Note); }

  private:
    void Note() { events_.push_back("execute"); }
    std::atomic<bool> &destroyed_;
    std::vector<std::string> &events_;
};

TEST_F(ThreadTest, AFreeOnTerminateThreadRunsItsNoticeThenFreesItself) {
    std::atomic<bool> destroyed{false};
    std::vector<std::string> events;
    auto *thread = new TSelfFreeing(destroyed, events);
    thread->FreeOnTerminate = true;
    const DWORD interfaceThread = GetCurrentThreadId();
    thread->OnTerminate = [&] {
        events.push_back(GetCurrentThreadId() == interfaceThread ? "notice on interface thread"
                                                                 : "notice elsewhere");
    };
    thread->Resume();
    ASSERT_TRUE(PumpUntil([&] { return destroyed.load(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"execute", "notice on interface thread"}));
}

class TInlineCaller : public TThread {
  public:
    TInlineCaller() : TThread(true) {}
    void CallFromHere() { Synchronize(&TInlineCaller::Mark); }
    DWORD markedOn = 0;

  protected:
    void Execute() override {}

  private:
    void Mark() { markedOn = GetCurrentThreadId(); }
};

TEST_F(ThreadTest, SynchronizeOnTheInterfaceThreadCallsAtOnce) {
    TInlineCaller thread;
    thread.CallFromHere(); // no message loop runs: a posted call would never be made
    EXPECT_EQ(thread.markedOn, GetCurrentThreadId());
}

} // namespace
