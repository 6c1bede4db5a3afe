#include "tests/e2e/update/UpdateWatch.h"

#include <commctrl.h>

#include <sstream>

const char SuccessMessage[] = "Firmware update successful. Power down the drive and remove "
                              "firmware jumper to use drive normally.";

HWND ProgressWindowOf(const TProgramRun &program) {
    std::vector<HWND> windows = program.Find({"", WriteFormClass, false});
    return windows.empty() ? nullptr : windows.front();
}

namespace {

void ReadBox(HWND box, HWND progress, SeenBox &seen) {
    seen.seen = true;
    // A box may be visible before its text and OK button are in place, and a busy (emulated)
    // machine may leave a query unanswered: read it again until both are there, at most 5 s.
    TMessageBoxInfo read = ReadMessageBox(box);
    for (int round = 0; round < 250 && (read.text.empty() || !read.okButton) && IsWindow(box);
         ++round) {
        Sleep(20);
        read = ReadMessageBox(box);
    }
    seen.title = read.title;
    seen.text = read.text;
    seen.icon = read.icon != TBoxIcon::None;
    if (!progress)
        return;
    const TControlInfo window = DescribeWindow(progress);
    seen.progressVisible = window.visible;
    seen.progressStyle = static_cast<LONG>(window.style);
    seen.progressExStyle = static_cast<LONG>(window.exStyle);
    seen.progressClient = window.clientRect;
    std::vector<HWND> bars = ChildWindows(progress, PROGRESS_CLASSA);
    seen.barPosition = bars.empty() ? -1 : ProgressPosition(bars.front());
}

} // namespace

HWND WaitForMainWindow(const TProgramRun &program, DWORD ms) {
    return WaitForAnsweringWindow(program, MainFormClass, ms);
}

HWND WaitForAnsweringWindow(const TProgramRun &program, const std::string &className, DWORD ms) {
    HWND window = program.WaitForWindow(TWindowQuery::OfClass(className), ms);
    // The main window shows before the message loop runs. After a start-up of more than five
    // seconds (a slow or emulated machine) Wine and Windows take the program for hung until its
    // loop fetches a message, and refuse every query: wait until the loop answers one.
    DWORD_PTR ignored;
    if (window)
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ms, &ignored);
    return window;
}

void SetTicks(HWND mainWindow, const std::vector<int> &targets) {
    for (HWND box : ChildWindows(mainWindow, "Button")) {
        if (!IsWindowVisible(box) || (GetWindowLongA(box, GWL_STYLE) & 0x0F) != BS_AUTOCHECKBOX)
            continue;
        std::string caption = WindowTextOf(box); // "(a,t) ..."
        int target = caption.size() > 3 ? caption[3] - '0' : -1;
        bool wanted = false;
        for (int t : targets)
            wanted |= t == target;
        if (IsChecked(box) != wanted) {
            DWORD_PTR ignored;
            SendMessageTimeoutA(box, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        }
    }
}

HWND UpdateButton(HWND mainWindow) {
    return ControlWithText(mainWindow, "UPDATE");
}

RunWatch WatchUpdate(const TProgramRun &program, HWND mainWindow, DWORD limitMs,
                     const std::function<void()> &eachRound, DWORD exitWaitMs,
                     const std::function<void()> &atBox) {
    RunWatch watch;
    PressButton(UpdateButton(mainWindow));
    // A box stays until it is answered and the end stays: neither can pass unseen between two
    // looks.
    WaitUntil(
        [&] {
            std::vector<HWND> boxes = program.Find(TWindowQuery::OfClass(DialogClass));
            if (!boxes.empty()) {
                ReadBox(boxes.front(), ProgressWindowOf(program), watch.box);
                if (atBox)
                    atBox();
                PressOk(boxes.front());
                return true;
            }
            if (eachRound)
                eachRound();
            return !program.Running();
        },
        limitMs);
    watch.exitCode = program.ExitCodeWithin(exitWaitMs);
    return watch;
}

RunWatch WatchStartUpEnd(const TProgramRun &program, DWORD limitMs) {
    RunWatch watch;
    HWND box = program.WaitForWindow(TWindowQuery::OfClass(DialogClass), limitMs);
    if (box) {
        ReadBox(box, nullptr, watch.box);
        PressOk(box);
    }
    watch.exitCode = program.ExitCodeWithin(15000);
    return watch;
}

std::string Describe(const std::vector<int> &positions) {
    std::ostringstream text;
    for (int position : positions)
        text << position << " ";
    return text.str();
}
