#include "app/MessageBoxes.h"

#include <windows.h>

#include "app/ProcessEnd.h"

const char *const ProgramTitle = "ZD-M770B Firmware update";

namespace {

// The box styles: one OK button, system-modal and without owner, so a box can appear before any
// window of the program exists and stays above every other window.
constexpr UINT ErrorBoxStyle = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;      // the fatal one too
constexpr UINT InfoBoxStyle = MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL; // the final success
static_assert(ErrorBoxStyle == 0x1010 && InfoBoxStyle == 0x1040, "message box styles");

// The answer of the box is of no interest: OK is its only button.
void ShowBox(const char *text, UINT style) {
    MessageBeep(MB_OK);
    MessageBoxA(nullptr, text, ProgramTitle, style);
}

} // namespace

void ShowErrorBox(const char *text) {
    ShowBox(text, ErrorBoxStyle);
}

void ShowFatalErrorBox(const char *text) {
    ShowBox(text, ErrorBoxStyle);
    EndProcess();
}

void ShowInfoBoxAndExit(const char *text) {
    ShowBox(text, InfoBoxStyle);
    EndProcess();
}
