// One copy of the program at a time. Two copies would erase and write the same drives at once,
// so the first copy owns a named mutex for as long as it runs. A copy that finds a live owner
// brings the first copy's window to the front, or, when none shows within a few seconds, says in
// a message box that the program is already running; either way it ends without loading ASPI
// (loading a manager and asking it for its host adapters already reaches the SCSI buses) and
// without a line in the run's record, which is the running copy's.
//
// Ownership decides, not the mutex's existence: a process that merely holds the object open (a
// copy that has ended but whose last drive request is still pending in the driver keeps its
// handles until the request completes, which may be at the next restart) must not keep every
// later copy from starting.
#ifndef M770B_APP_SINGLECOPY_H
#define M770B_APP_SINGLECOPY_H

#include <windows.h>

// The machine-wide name of the mutex: drives are shared by every session of the machine.
extern const char OnlyCopyMutexName[];

// The text of the box a second copy shows when the first copy's window does not appear.
extern const char AlreadyRunningMessage[];

// How long a second copy looks for the first copy's window: the first copy shows it only after
// its drive search, and between two drives its progress window is hidden for a moment.
constexpr DWORD FirstCopyWindowWaitMs = 3000;

// What the mutex says of this copy.
enum class TCopyClaim {
    Only,    // this copy's thread now owns the mutex (also when a copy that died left it abandoned)
    Another, // a live copy owns it, or a copy of another user holds it where this one cannot look
    Unknown, // the mutex could not be made at all; the copy runs as it would without the check
};

// Opens or creates the mutex `name` and tries to take it without waiting. The handle stays open
// and the calling thread keeps the ownership until the process ends, so the caller must be a
// thread that lives as long as the process (WinMain's).
TCopyClaim ClaimCopyMutex(const char *name);

// True when this copy may run: it then owns OnlyCopyMutexName. False when another copy runs;
// its window, if one showed within FirstCopyWindowWaitMs, is now in front, and the caller ends
// at once. Where no window showed, the already-running box is shown and the process ends here.
bool ClaimOnlyCopy();

// Waits up to `waitMs` for the first copy's window and brings it to the front (restored if it
// is minimised). Where none shows in that time it shows AlreadyRunningMessage in the program's
// information box, which then ends the process.
void ShowFirstCopy(DWORD waitMs);

// The first copy's window that the user should see: a visible top-level main, jumper or progress
// window titled "ZD-M770B Firmware update..." that does not belong to `ownProcess`; null when
// there is none (the first copy is still starting, or shows only a message box).
HWND FindFirstCopyWindow(DWORD ownProcess);

#endif
