// A worker thread with a blocking hand-off to the user-interface thread.
//
// A thread class derives from TThread and overrides Execute. The object is made with new, in the
// suspended state (TThread(true)); Resume starts Execute on a thread of its own. With
// FreeOnTerminate set, the object deletes itself once Execute has returned and nobody may keep a
// pointer to it; without it, the owner deletes it, which waits for Execute to end.
//
// Synchronize(&T::Method), called from Execute, runs the method on the user-interface thread and
// returns only when it has finished: it posts UM_SYNCHRONIZE to the application's hidden window
// and waits on the thread's own event, which the hand-off sets when the method has run. Any
// message loop of the user-interface thread (the main loop, a modal showing) dispatches it. An
// exception that leaves the method is caught there and thrown again in the worker, from
// Synchronize.
//
// No exception crosses the thread's entry point: whatever escapes Execute is caught, and its
// message stays readable through FatalException() until the object is freed.
#ifndef M770B_UI_THREAD_H
#define M770B_UI_THREAD_H

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <string>

class TThread {
  public:
    // The thread is always created suspended; createSuspended must be true (a thread started
    // before the derived constructor ran would call an unfinished object).
    explicit TThread(bool createSuspended);
    // Waits for a started thread to end (never from the thread itself); a thread that was never
    // resumed is ended without running Execute.
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Starts (once) a thread created suspended.
    void Resume();

    // Set before Resume: delete the object once Execute has returned.
    bool FreeOnTerminate = false;
    // Run on the user-interface thread after Execute has returned, when set.
    std::function<void()> OnTerminate;

    bool Finished() const { return finished_; }
    // The message of what escaped Execute, or empty.
    const std::string &FatalException() const { return fatalException_; }

  protected:
    // The termination notice, on the worker thread after Execute: runs OnTerminate through
    // Synchronize when one is set.
    virtual void DoTerminate();
    // The thread's work.
    virtual void Execute() = 0;

    // Runs `call` on the user-interface thread and waits until it has run; from the
    // user-interface thread itself it simply calls it.
    void Synchronize(const std::function<void()> &call);
    template <class T> void Synchronize(void (T::*method)()) {
        T *self = static_cast<T *>(this);
        Synchronize(std::function<void()>([self, method] { (self->*method)(); }));
    }

  private:
    static unsigned __stdcall ThreadEntry(void *self);
    void Run();

    HANDLE handle_ = nullptr;
    HANDLE synchronized_ = nullptr; // set by the hand-off when the method has run
    unsigned threadId_ = 0;
    bool started_ = false;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::string fatalException_;
};

#endif
