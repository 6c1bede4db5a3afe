#include "tests/e2e/update/UpdateWatch.h"

#include <commctrl.h>

#include <sstream>

const char SuccessMessage[] = "Firmware update successful. Power down the drive and remove "
                              "firmware jumper to use drive normally.";

namespace {

HWND BarOf(HWND progress) {
    std::vector<HWND> bars = ChildWindows(progress, PROGRESS_CLASSA);
    return bars.empty() ? nullptr : bars.front();
}

std::string LabelOf(HWND progress) {
    for (HWND label : ChildWindows(progress, "Static")) {
        std::string text = WindowTextOf(label);
        if (text != "0%" && text != "100%")
            return text;
    }
    return "";
}

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
    seen.progressVisible = progress && IsWindowVisible(progress);
    if (progress)
        seen.barPosition = ProgressPosition(BarOf(progress));
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
                     const std::function<void(HWND progress)> &during, DWORD exitWaitMs,
                     const std::function<void()> &atBox) {
    RunWatch watch;
    PressButton(UpdateButton(mainWindow));
    HWND progress = nullptr;
    bool shown = false, poked = false;
    int stale = -1;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        std::vector<HWND> boxes = program.Find(TWindowQuery::OfClass(DialogClass));
        if (!boxes.empty()) {
            // A box may open before its text is in place: read it once it has its OK button.
            Sleep(20);
            ReadBox(boxes.front(), progress, watch.box);
            if (atBox)
                atBox();
            PressOk(boxes.front());
            if (!watch.showings.empty()) {
                std::vector<int> &positions = watch.showings.back().positions;
                if (!positions.empty() && watch.box.barPosition > positions.back())
                    positions.push_back(watch.box.barPosition);
            }
            break;
        }
        if (!program.Running())
            break;
        std::vector<HWND> windows = program.Find(TWindowQuery::OfClass(WriteFormClass));
        HWND visible = windows.empty() ? nullptr : windows.front();
        // One reading of the bar and the label per round, so that all decisions agree. The label
        // is read on both sides of the bar: when the program moves on to the next drive between
        // the two reads, the bar may still be the drive before's, and the round is read again.
        const std::string label = visible ? LabelOf(visible) : "";
        const int position = visible ? ProgressPosition(BarOf(visible)) : -1;
        if (visible && LabelOf(visible) != label)
            continue;
        // The same window is shown again for the next drive; when the hidden moment between two
        // showings falls between two polls, the new label or a bar gone back tells them apart.
        if (visible && shown && !watch.showings.empty()) {
            const ProgressShowing &current = watch.showings.back();
            if ((!label.empty() && label != current.label) ||
                (position >= 0 && !current.positions.empty() &&
                 position < current.positions.back()))
                shown = false;
        }
        if (visible && !shown) {
            // Until its activation resets the bar, a window shown again for the next drive
            // still shows the 100 at which the drive before ended.
            stale = watch.showings.empty() ? -1 : FullBarPositions.back();
            progress = visible;
            ProgressShowing showing;
            showing.title = WindowTextOf(visible);
            showing.label = label;
            showing.style = GetWindowLongA(visible, GWL_STYLE);
            showing.exStyle = GetWindowLongA(visible, GWL_EXSTYLE);
            GetClientRect(visible, &showing.client);
            showing.mainWindowVisible = IsWindowVisible(mainWindow) != FALSE;
            watch.showings.push_back(showing);
            poked = false;
        }
        shown = visible != nullptr;
        if (visible) {
            std::vector<int> &positions = watch.showings.back().positions;
            if (position != stale)
                stale = -1;
            if (position >= 0 && stale < 0 && (positions.empty() || positions.back() != position))
                positions.push_back(position);
            if (during && !poked && position > 0) {
                poked = true;
                during(visible);
            }
        } else if (progress && !watch.showings.empty()) {
            // Hidden again: the bar keeps its last position until the next showing starts.
            int last = ProgressPosition(BarOf(progress));
            std::vector<int> &positions = watch.showings.back().positions;
            if (last > 0 && !positions.empty() && last > positions.back())
                positions.push_back(last);
        }
    }
    watch.exitCode = program.ExitCodeWithin(exitWaitMs);
    return watch;
}

RunWatch WatchStartUpEnd(const TProgramRun &program, DWORD limitMs) {
    RunWatch watch;
    HWND box = program.WaitForWindow(TWindowQuery::OfClass(DialogClass), limitMs);
    if (box) {
        Sleep(20);
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

bool IsOrderedPartOfBarRun(const std::vector<int> &positions) {
    std::size_t next = 0;
    for (int position : positions) {
        while (next < FullBarPositions.size() && FullBarPositions[next] != position)
            ++next;
        if (next == FullBarPositions.size())
            return false;
        ++next;
    }
    return !positions.empty();
}
