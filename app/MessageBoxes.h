// The program's three message boxes: a beep, then a system-modal box without owner titled
// "ZD-M770B Firmware update".
#ifndef M770B_APP_MESSAGEBOXES_H
#define M770B_APP_MESSAGEBOXES_H

extern const char *const ProgramTitle; // "ZD-M770B Firmware update"

void ShowErrorBox(const char *text);                     // returns to the caller
[[noreturn]] void ShowFatalErrorBox(const char *text);   // then ends the process
[[noreturn]] void ShowInfoBoxAndExit(const char *text);  // then ends the process

#endif
