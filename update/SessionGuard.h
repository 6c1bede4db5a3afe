// Keeps Windows from interrupting a drive's write where a program can. From the erase to the
// checksum comparison a drive whose flash is half written would not start again, so for that span:
// - ES_SYSTEM_REQUIRED keeps Windows from going to sleep when idle. It does not stop a sleep the
//   user asks for (the Start menu, closing a laptop's lid, the power button): Windows Vista and
//   later carry that out whatever a program holds. Windows XP asks the windows before most
//   suspends (the progress window refuses, WriteUnit.cpp); a critical one it does not ask about.
// - The end of the session (shut-down, log-off) is blocked with a reason that Windows shows to
//   the user where it offers one (Windows Vista and later; Windows XP only asks the windows, and
//   the progress window refuses while its worker runs). A forced shut-down asks nobody.
//
// Both calls are made on the user-interface thread: the execution state belongs to the thread
// that sets it, the block reason to a window of that thread (the progress window).
#ifndef M770B_UPDATE_SESSIONGUARD_H
#define M770B_UPDATE_SESSIONGUARD_H

#include <windows.h>

// The calls into Windows. The shutdown-block pair is looked up by name in user32 at run time,
// so that the program still starts on Windows XP, which lacks it; a test puts stand-ins here.
struct TSessionCalls {
    EXECUTION_STATE(WINAPI *setThreadExecutionState)(EXECUTION_STATE flags);
    BOOL(WINAPI *shutdownBlockReasonCreate)(HWND window, LPCWSTR reason); // null: not offered
    BOOL(WINAPI *shutdownBlockReasonDestroy)(HWND window);                // null: not offered
};

// The calls as `user32` offers them (a null module offers none of the pair).
TSessionCalls ResolveSessionCalls(HMODULE user32);
extern TSessionCalls SessionCalls;

// Before the erase: no sleep when idle, and the session's end is blocked on `window` with the
// reason "Writing drive firmware. Do not switch off." (UpdateMessage::ShutdownReason). Until it is
// released, the next message box or the end of the process releases it first
// (outcome/BeforeOutcome.h): a failed step shows its box with nothing held.
void HoldSessionForWrite(HWND window);
// After the checksum comparison: the block reason goes, then the system may sleep when idle again.
void ReleaseSessionAfterWrite(HWND window);
// On any thread: releases a hold still in place, on the thread that took it (the calls work only
// there), through SessionReleaseMessage to its window when called from another thread. Nothing
// when nothing is held.
void ReleaseHeldSession();

// Sent to the window of the hold by ReleaseHeldSession from another thread; the window answers it
// by calling ReleaseHeldSession.
constexpr UINT SessionReleaseMessage = WM_APP + 2;

#endif
