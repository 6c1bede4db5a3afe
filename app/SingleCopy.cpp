#include "app/SingleCopy.h"

#include <cstring>

#include "app/JumperErrorUnit.h"
#include "app/MainUnit.h"
#include "outcome/ProgramTitle.h"
#include "update/WriteUnit.h"

const char OnlyCopyMutexName[] = "Global\\M770BUpdate.OnlyCopy";

namespace {

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

} // namespace

HWND FindFirstCopyWindow(DWORD ownProcess) {
    TWindowSearch search{ownProcess, nullptr};
    EnumWindows(TakeFirstCopyWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ClaimOnlyCopy() {
    // The handle stays open until the process ends, whichever way it ends.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, OnlyCopyMutexName);
    const DWORD error = GetLastError();
    // Taken by a copy of another user, the mutex cannot even be opened. Any other failure leaves
    // the question open, and the program runs as it would without the check.
    const bool another = mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
    if (!another)
        return true;
    if (HWND window = FindFirstCopyWindow(GetCurrentProcessId())) {
        if (IsIconic(window))
            ShowWindowAsync(window, SW_RESTORE);
        SetForegroundWindow(window);
    }
    return false;
}
