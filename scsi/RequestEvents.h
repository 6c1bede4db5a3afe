// The Windows calls behind one request's completion event, its wait and its time bound. In the
// program they are Windows' own; unit tests put recording stand-ins here (to make event creation
// fail, to skip the real 1000 ms wait, to run the 60 s bound on a clock of their own).
#ifndef M770B_SCSI_REQUESTEVENTS_H
#define M770B_SCSI_REQUESTEVENTS_H

#include <windows.h>

struct RequestEventCalls {
    HANDLE(WINAPI *createEvent)
    (LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name);
    BOOL(WINAPI *resetEvent)(HANDLE event);
    // The timed wait on the request's event, which also wakes for messages sent to the thread
    // (wakeMask QS_SENDMESSAGE): WAIT_OBJECT_0 + count when one has come.
    DWORD(WINAPI *msgWaitForMultipleObjects)
    (DWORD count, const HANDLE *handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
    BOOL(WINAPI *closeHandle)(HANDLE event);
    // Milliseconds since the system started; wraps after 49.7 days, so only differences of two
    // readings (unsigned) are meaningful. GetTickCount64 does not exist on Windows XP.
    DWORD(WINAPI *tickCount)();
};

// The calls ExecuteRequest makes; initially CreateEventA, ResetEvent, MsgWaitForMultipleObjects,
// CloseHandle and GetTickCount.
extern RequestEventCalls EventCalls;

// Windows' own calls, for restoring EventCalls after a test.
extern const RequestEventCalls KernelEventCalls;

#endif
