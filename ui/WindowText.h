// The text of a window of this thread: a form's caption, a control's caption, a label's text.
#ifndef M770B_UI_WINDOWTEXT_H
#define M770B_UI_WINDOWTEXT_H

#include <windows.h>

#include <string>

// Empty for a null window.
std::string WindowText(HWND window);

#endif
