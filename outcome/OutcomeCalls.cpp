#include "outcome/OutcomeCalls.h"

#include <windows.h>

#include "outcome/ProgramTitle.h"

namespace {

// One OK button, system-modal and without owner, so a box can appear before any window of the
// program exists and stays above every other window. The answer is of no interest.
constexpr UINT ErrorBoxStyle = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;      // the fatal one too
constexpr UINT InfoBoxStyle = MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL; // the final success
static_assert(ErrorBoxStyle == 0x1010 && InfoBoxStyle == 0x1040, "message box styles");

void ShowWindowsBox(BoxKind kind, const char *text) {
    MessageBeep(MB_OK);
    MessageBoxA(nullptr, text, ProgramTitle,
                kind == BoxKind::InfoAndExit ? InfoBoxStyle : ErrorBoxStyle);
}

// The exit code is 0 whatever happened: the user learns the outcome from the message shown.
void ExitWithZero() {
    ExitProcess(0);
}

} // namespace

const OutcomeCalls WindowsOutcome = {ShowWindowsBox, ExitWithZero};

OutcomeCalls Outcome = WindowsOutcome;
