// The plain message dialog: the text, an OK button, no icon, the application title; owned by the
// active window, not system-modal; returns to its caller. Its text goes into the run's record.
#ifndef M770B_UI_DIALOGS_H
#define M770B_UI_DIALOGS_H

#include <string>

void ShowMessage(const std::string &text);

#endif
