#include "ui/Thread.h"

#include <process.h>

#include "ui/Application.h"
#include "ui/Exception.h"

namespace {

// One hand-off: the call, the event that tells the waiting worker it has run, and what it threw.
class TThreadCall final : public TSynchronizedCall {
  public:
    TThreadCall(const std::function<void()> &call, HANDLE done) : call_(call), done_(done) {}

    void Invoke() override {
        try {
            call_();
        } catch (...) {
            error_ = std::current_exception();
        }
        SetEvent(done_);
    }

    std::exception_ptr Error() const { return error_; }

  private:
    const std::function<void()> &call_;
    HANDLE done_;
    std::exception_ptr error_;
};

bool OnUserInterfaceThread() {
    HWND window = Application.Handle();
    return window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

} // namespace

TThread::TThread(bool createSuspended) {
    if (!createSuspended)
        throw Exception("A thread is created suspended and started with Resume");
    synchronized_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!synchronized_)
        throw Exception("Cannot create the thread's event");
    handle_ = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, ThreadEntry, this, CREATE_SUSPENDED, &threadId_));
    if (!handle_) {
        CloseHandle(synchronized_);
        throw Exception("Cannot create a thread");
    }
}

TThread::~TThread() {
    if (handle_ && threadId_ != GetCurrentThreadId()) {
        if (!started_) {
            cancelled_ = true;
            ResumeThread(handle_);
        }
        WaitForSingleObject(handle_, INFINITE);
    }
    if (handle_)
        CloseHandle(handle_);
    CloseHandle(synchronized_);
}

void TThread::Resume() {
    if (started_)
        return;
    started_ = true;
    ResumeThread(handle_);
}

unsigned __stdcall TThread::ThreadEntry(void *self) {
    static_cast<TThread *>(self)->Run();
    return 0;
}

void TThread::Run() {
    if (cancelled_)
        return;
    try {
        Execute();
    } catch (const std::exception &e) {
        fatalException_ = e.what();
    } catch (...) {
        fatalException_ = "Unknown exception";
    }
    try {
        DoTerminate();
    } catch (...) {
    }
    bool freeItself = FreeOnTerminate;
    finished_ = true;
    if (freeItself)
        delete this;
}

void TThread::DoTerminate() {
    if (OnTerminate)
        Synchronize(OnTerminate);
}

void TThread::Synchronize(const std::function<void()> &call) {
    if (OnUserInterfaceThread()) {
        call();
        return;
    }
    TThreadCall handOff(call, synchronized_);
    if (!PostMessageA(Application.Handle(), UM_SYNCHRONIZE, 0,
                      reinterpret_cast<LPARAM>(static_cast<TSynchronizedCall *>(&handOff))))
        throw Exception("Cannot hand a call to the user-interface thread");
    WaitForSingleObject(synchronized_, INFINITE);
    if (handOff.Error())
        std::rethrow_exception(handOff.Error());
}
