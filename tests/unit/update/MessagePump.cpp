#include "tests/unit/update/MessagePump.h"

#include <windows.h>

#include "tests/unit/fakes/RecordingMessages.h"
#include "ui/Application.h"
#include "update/WriteUnit.h"

bool PumpUntil(const std::function<bool()> &done, unsigned limitMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs)
            return false;
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            Application.DispatchOne(message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void InitialiseTestApplication() {
    Application.Initialize();
}

void PrepareProgressWindowTest() {
    InitialiseTestApplication();
    if (!WriteForm)
        Application.CreateForm(WriteForm);
    ResetRecordedMessages();
}
