#include "ui/MessageLoop.h"

#include <algorithm>
#include <vector>

namespace {

// Touched only on the user-interface thread, which owns every dialog window.
std::vector<HWND> &DialogWindows() {
    static std::vector<HWND> windows;
    return windows;
}

} // namespace

void AddDialogWindow(HWND window) {
    DialogWindows().push_back(window);
}

void RemoveDialogWindow(HWND window) {
    std::vector<HWND> &windows = DialogWindows();
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
}

bool IsDialogWindow(HWND window) {
    const std::vector<HWND> &windows = DialogWindows();
    return window && std::find(windows.begin(), windows.end(), window) != windows.end();
}

void DispatchMessageOf(MSG &message) {
    HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root && IsDialogWindow(root) && IsDialogMessageA(root, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageOf(message);
}
