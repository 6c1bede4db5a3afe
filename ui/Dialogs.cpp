#include "ui/Dialogs.h"

#include <windows.h>

#include "ui/Application.h"

void ShowMessage(const std::string &text) {
    MessageBoxA(GetActiveWindow(), text.c_str(), Application.Title().c_str(), MB_OK);
}
