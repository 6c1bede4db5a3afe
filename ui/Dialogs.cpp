#include "ui/Dialogs.h"

#include <windows.h>

#include "record/RunRecord.h"
#include "ui/Application.h"

void ShowMessage(const std::string &text) {
    RecordLine("Message: " + Quoted(text));
    MessageBoxA(GetActiveWindow(), text.c_str(), Application.Title().c_str(), MB_OK);
}
