#include "tests/e2e/update/ProgramDriver.h"

#include <commctrl.h>

const char MainFormClass[] = "TMainForm";
const char WriteFormClass[] = "TWriteForm";
const char DialogClass[] = "#32770";

namespace {

constexpr UINT AnswerMs = 2000; // a window that does not answer a query within this is hung

struct WindowSearch {
    DWORD processId;
    const char *className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    auto *search = reinterpret_cast<WindowSearch *>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) &&
        (!search->className || ClassOf(window) == search->className))
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM lParam) {
    auto *search = reinterpret_cast<WindowSearch *>(lParam);
    if (!search->className || ClassOf(window) == search->className)
        search->found.push_back(window);
    return TRUE;
}

} // namespace

TProgram::TProgram(const TUpdateWorld &world, const std::string &workFolder) {
    std::string program = world.ProgramPath();
    std::string commandLine = "\"" + program + "\"";
    std::string folder = workFolder.empty() ? world.WorkFolder() : workFolder;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info))
        return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

TProgram::~TProgram() {
    if (!process_)
        return;
    if (Running()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

DWORD TProgram::UiThreadId(HWND window) const {
    return GetWindowThreadProcessId(window, nullptr);
}

bool TProgram::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD TProgram::WaitForExit(DWORD ms) const {
    if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0)
        return NoExitYet;
    DWORD code = NoExitYet;
    GetExitCodeProcess(process_, &code);
    return code;
}

std::vector<HWND> TProgram::Windows(const char *className) const {
    WindowSearch search{processId_, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND TProgram::WaitForWindow(const char *className, DWORD ms) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> windows = Windows(className);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr || !Running();
        },
        ms);
    return found;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, AnswerMs, &length);
    return std::string(text, length < sizeof text ? length : 0);
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> ChildWindows(HWND parent, const char *className) {
    WindowSearch search{0, className, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ChildWithText(HWND parent, const std::string &text) {
    for (HWND child : ChildWindows(parent))
        if (WindowText(child) == text)
            return child;
    return nullptr;
}

// The text of a message box is its static control 0xFFFF.
std::string MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::string();
}

// The icon of a message box is a visible SS_ICON static that holds an icon.
bool MessageBoxHasIcon(HWND box) {
    for (HWND child : ChildWindows(box, "Static"))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            DWORD_PTR icon = 0;
            SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, AnswerMs, &icon);
            if (icon)
                return true;
        }
    return false;
}

void PressOk(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void Click(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool IsChecked(HWND box) {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, AnswerMs, &state);
    return state == BST_CHECKED;
}

int ProgressPosition(HWND bar) {
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, AnswerMs, &position))
        return -1;
    return static_cast<int>(position);
}

bool WaitUntil(const std::function<bool()> &probe, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (probe())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(1);
    }
}
