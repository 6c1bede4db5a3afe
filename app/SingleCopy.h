// One copy of the program at a time. Two copies would erase and write the same drives at once,
// so the first copy holds a named mutex for as long as it runs; a copy that finds the mutex taken
// brings the first copy's visible window to the front and ends without showing anything of its
// own and without loading ASPI (loading a manager and asking it for its host adapters already
// reaches the SCSI buses).
#ifndef M770B_APP_SINGLECOPY_H
#define M770B_APP_SINGLECOPY_H

#include <windows.h>

// The machine-wide name of the mutex: drives are shared by every session of the machine.
extern const char OnlyCopyMutexName[];

// True for the only copy, which then holds the mutex until the process ends. False when another
// copy runs (its window, if it shows one, is now in front); the caller then ends at once.
bool ClaimOnlyCopy();

// The first copy's window that the user should see: a visible top-level main, jumper or progress
// window titled "ZD-M770B Firmware update..." that does not belong to `ownProcess`; null when
// there is none (the first copy is still starting, or shows only a message box).
HWND FindFirstCopyWindow(DWORD ownProcess);

#endif
