// A recording stand-in for the transport's event and clock calls (scsi/RequestEvents.h). While
// one exists it stands in EventCalls; its destructor puts back what was there.
//
// By default every call goes on to kernel32 (real events, so FakeAspiManager can signal them)
// and is recorded with its handle and arguments. A test can instead
// - make CreateEventA fail (FailEventCreation), as when the system is out of handles;
// - skip the real waits (SkipWaits): MsgWaitForMultipleObjects returns WAIT_TIMEOUT at once;
// - run the clock of its own (SetClock): every tick-count reading asks the test's function,
//   so a bound of 60 s can pass in microseconds. Readings are counted, not recorded.
#ifndef M770B_TESTS_FAKES_RECORDINGEVENTCALLS_H
#define M770B_TESTS_FAKES_RECORDINGEVENTCALLS_H

#include <windows.h>

#include <functional>
#include <mutex>
#include <vector>

#include "scsi/RequestEvents.h"

class RecordingEventCalls {
  public:
    enum class Kind { CreateEvent, ResetEvent, Wait, CloseHandle };

    struct Call {
        Kind kind;
        unsigned sequence;      // in the order of NextFakeSequence
        HANDLE handle;          // the event created, reset, waited on or closed
        DWORD milliseconds = 0; // the wait's time-out
        // CreateEventA's arguments.
        bool securityAttributes = false;
        BOOL manualReset = FALSE;
        BOOL initialState = FALSE;
        bool named = false;
    };

    RecordingEventCalls();
    ~RecordingEventCalls();
    RecordingEventCalls(const RecordingEventCalls &) = delete;
    RecordingEventCalls &operator=(const RecordingEventCalls &) = delete;

    void FailEventCreation(bool fail);
    void SkipWaits(bool skip);
    void SetClock(std::function<DWORD()> clock);

    std::vector<Call> Calls() const;
    std::vector<Call> CallsOf(Kind kind) const;
    long long TickCountReadings() const;

  private:
    static HANDLE WINAPI CreateEventEntry(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    static BOOL WINAPI ResetEventEntry(HANDLE);
    static DWORD WINAPI WaitEntry(DWORD, const HANDLE *, BOOL, DWORD, DWORD);
    static BOOL WINAPI CloseHandleEntry(HANDLE);
    static DWORD WINAPI TickCountEntry();
    void Record(const Call &call);

    mutable std::mutex lock_;
    std::vector<Call> calls_;
    bool failCreation_ = false;
    bool skipWaits_ = false;
    std::function<DWORD()> clock_;
    long long tickReadings_ = 0;
    RequestEventCalls previousCalls_;
    RecordingEventCalls *previousInstalled_;
};

#endif
