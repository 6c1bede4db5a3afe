#include "outcome/MessageBoxes.h"

#include "outcome/OutcomeCalls.h"
#include "outcome/ProcessEnd.h"

void ShowErrorBox(const char *text) {
    Outcome.showBox(BoxKind::Error, text);
}

void ShowFatalErrorBox(const char *text) {
    Outcome.showBox(BoxKind::FatalError, text);
    EndProcess();
}

void ShowInfoBoxAndExit(const char *text) {
    Outcome.showBox(BoxKind::InfoAndExit, text);
    EndProcess();
}
