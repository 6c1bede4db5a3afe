// The program's three message boxes: a beep, then a system-modal box without owner titled with
// ProgramTitle and the single button OK. Each box's kind and text go into the run's record first,
// then, for a box that ends the run (an error box while a drive is written, the other two
// always), the run's end.
#ifndef M770B_OUTCOME_MESSAGEBOXES_H
#define M770B_OUTCOME_MESSAGEBOXES_H

#include "outcome/ProgramTitle.h"

void ShowErrorBox(const char *text);                    // returns to the caller
[[noreturn]] void ShowFatalErrorBox(const char *text);  // then ends the process
[[noreturn]] void ShowInfoBoxAndExit(const char *text); // then ends the process

#endif
