#include "sim/aspi/ProgressProbe.h"

#include <windows.h>
#include <commctrl.h>

namespace {

struct Search {
    DWORD process;
    HWND bar;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
    auto *search = reinterpret_cast<Search *>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !IsWindowVisible(window))
        return TRUE;
    HWND bar = FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr);
    if (!bar)
        return TRUE;
    search->bar = bar;
    return FALSE;
}

} // namespace

int VisibleProgressPosition() {
    Search search{GetCurrentProcessId(), nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    if (!search.bar)
        return -1;
    // The program sends its commands from its interface thread, so this is a direct call; sent
    // from another thread it waits for the interface thread, and the timeout bounds that.
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(search.bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position))
        return -1;
    return static_cast<int>(position);
}
