#include "app/SingleCopy.h"

#include <cstring>

#include "app/JumperErrorUnit.h"
#include "app/MainUnit.h"
#include "outcome/MessageBoxes.h"
#include "outcome/ProgramTitle.h"
#include "update/WriteUnit.h"

const char OnlyCopyMutexName[] = "Global\\M770BUpdate.OnlyCopy";

const char AlreadyRunningMessage[] =
    "Another copy of this program is already running. Only one copy may write drives at a time: "
    "use that copy, or start this one again after it has ended.";

namespace {

// How often a second copy looks for the first copy's window while it waits.
constexpr DWORD WindowPollMs = 100;

struct TWindowSearch {
    DWORD ownProcess;
    HWND found;
};

bool IsProgramWindowClass(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    for (const FormLayout *layout : {&MainFormLayout, &JumperFormLayout, &WriteFormLayout})
        if (std::strcmp(name, layout->className) == 0)
            return true;
    return false;
}

// Every window of the program carries the program title at the start of its own.
bool HasProgramTitle(HWND window) {
    char title[128] = {};
    GetWindowTextA(window, title, sizeof title);
    return std::strncmp(title, ProgramTitle, std::strlen(ProgramTitle)) == 0;
}

BOOL CALLBACK TakeFirstCopyWindow(HWND window, LPARAM lParam) {
    auto *search = reinterpret_cast<TWindowSearch *>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->ownProcess || !IsWindowVisible(window) ||
        !IsProgramWindowClass(window) || !HasProgramTitle(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// A handle to the mutex with at least the right to wait on it; null when none can be had.
//
// CreateMutexA asks for every right on the object. A mutex made by a copy of another user (the
// name is machine-wide, so a copy in another user's session meets it) carries that user's
// default security, which may grant this user nothing: the call then fails with
// ERROR_ACCESS_DENIED. A zero-time wait needs only SYNCHRONIZE, which may still be granted; then
// ownership decides as for any copy.
HANDLE OpenCopyMutex(const char *name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    return mutex;
}

} // namespace

HWND FindFirstCopyWindow(DWORD ownProcess) {
    TWindowSearch search{ownProcess, nullptr};
    EnumWindows(TakeFirstCopyWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TCopyClaim ClaimCopyMutex(const char *name) {
    // The handle stays open until the process ends, whichever way it ends.
    HANDLE mutex = OpenCopyMutex(name);
    if (!mutex) {
        // Refused even the right to wait: a copy of another user holds the object, and whether
        // it still runs cannot be seen from here. It is taken for a running copy: refusing a
        // start wrongly costs the technician a box and a later start, while two copies writing
        // one drive at once leave a half-written flash that does not start again. Any other
        // failure (no memory, the name taken by an object of another kind) leaves the question
        // open, and the program runs as it would without the check.
        return GetLastError() == ERROR_ACCESS_DENIED ? TCopyClaim::Another : TCopyClaim::Unknown;
    }
    switch (WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its owner ended without giving it back: that copy is gone
        return TCopyClaim::Only;
    case WAIT_TIMEOUT: // a thread of a running copy owns it
        return TCopyClaim::Another;
    default:
        return TCopyClaim::Unknown;
    }
}

void ShowFirstCopy(DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindFirstCopyWindow(GetCurrentProcessId())) {
            if (IsIconic(window))
                ShowWindowAsync(window, SW_RESTORE);
            SetForegroundWindow(window);
            return;
        }
        if (GetTickCount() - start >= waitMs)
            break;
        Sleep(WindowPollMs);
    }
    // A copy in another session, one still searching its drives, or one showing only a message
    // box: the user is told, rather than left with a start that did nothing.
    ShowInfoBoxAndExit(AlreadyRunningMessage);
}

bool ClaimOnlyCopy() {
    if (ClaimCopyMutex(OnlyCopyMutexName) != TCopyClaim::Another)
        return true;
    ShowFirstCopy(FirstCopyWindowWaitMs);
    return false;
}
