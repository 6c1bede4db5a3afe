// The kernel calls behind one request's completion event and its time bound. In the program they
// are kernel32's own; unit tests put recording stand-ins here (to make event creation fail, to
// skip the real 1000 ms wait, to run the 60 s bound on a clock of their own).
#ifndef M770B_SCSI_REQUESTEVENTS_H
#define M770B_SCSI_REQUESTEVENTS_H

#include <windows.h>

struct RequestEventCalls {
    HANDLE(WINAPI *createEvent)
    (LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name);
    BOOL(WINAPI *resetEvent)(HANDLE event);
    DWORD(WINAPI *waitForSingleObject)(HANDLE event, DWORD milliseconds);
    BOOL(WINAPI *closeHandle)(HANDLE event);
    // Milliseconds since the system started; wraps after 49.7 days, so only differences of two
    // readings (unsigned) are meaningful. GetTickCount64 does not exist on Windows XP.
    DWORD(WINAPI *tickCount)();
};

// The calls ExecuteRequest makes; initially kernel32's CreateEventA, ResetEvent,
// WaitForSingleObject, CloseHandle and GetTickCount.
extern RequestEventCalls EventCalls;

// kernel32's own calls, for restoring EventCalls after a test.
extern const RequestEventCalls KernelEventCalls;

#endif
