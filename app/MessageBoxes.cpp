#include "app/MessageBoxes.h"

#include "app/OutcomeCalls.h"
#include "app/ProcessEnd.h"

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
