#include "sim/aspi/ProgressProbe.h"

#include <windows.h>

#include <commctrl.h>

#include "tests/support/ProcessWindows.h"

namespace {

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

ProgressView VisibleProgress() {
    ProgressView view;
    const std::vector<HWND> windows = ProcessTopLevelWindows(GetCurrentProcessId());
    for (HWND window : windows) {
        HWND bar = FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr);
        if (!bar)
            continue;
        // The program sends its commands from its interface thread, so these are direct calls;
        // sent from another thread they wait for the interface thread, and the timeout bounds that.
        DWORD_PTR position = 0;
        if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position))
            return view;
        view.bar = static_cast<int>(position);
        view.title = TextOf(window);
        if (HWND label = FindWindowExA(window, nullptr, "Static", nullptr))
            view.label = TextOf(label);
        view.windows = static_cast<int>(windows.size());
        return view;
    }
    return view;
}
