#include "sim/aspi/ProgressProbe.h"

#include <windows.h>

#include <commctrl.h>

#include "tests/support/ProcessWindows.h"

namespace {

// The first progress bar of a visible top-level window of this process; null when none shows.
HWND VisibleProgressBar() {
    for (HWND window : ProcessTopLevelWindows(GetCurrentProcessId()))
        if (HWND bar = FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr))
            return bar;
    return nullptr;
}

} // namespace

int VisibleProgressPosition() {
    HWND bar = VisibleProgressBar();
    if (!bar)
        return -1;
    // The program sends its commands from its interface thread, so this is a direct call; sent
    // from another thread it waits for the interface thread, and the timeout bounds that.
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position))
        return -1;
    return static_cast<int>(position);
}
