#include "tests/support/ProcessWindows.h"

namespace {

struct TProcessWindowSearch {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM context) {
    auto *search = reinterpret_cast<TProcessWindowSearch *>(context);
    // A window destroyed meanwhile has no owner (0), so it matches no process.
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != 0 && owner == search->processId &&
        (!search->visibleOnly || IsWindowVisible(window)))
        search->found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> ProcessTopLevelWindows(DWORD processId, bool visibleOnly) {
    TProcessWindowSearch search{processId, visibleOnly, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
