// One copy at a time: the mutex ownership that tells a second copy from the first, and the window
// of the first copy that a second one brings to the front.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/SingleCopy.h"
#include "ui/Application.h"
#include "update/WriteUnit.h"

namespace {

// What another holder of the mutex does, and what the claim then says: only a live owner is
// another copy. A copy that has ended may still hold the mutex open (a drive request pending in
// the driver keeps its handles), and one that died leaves it abandoned.
enum class THolder { None, OpenOnly, LiveOwner, EndedOwner };

TEST(SingleCopy, OnlyALiveOwnerIsAnotherCopy) {
    struct Case {
        const char *what;
        THolder holder;
        TCopyClaim claim;
    };
    const Case cases[] = {
        {"no other holder", THolder::None, TCopyClaim::Only},
        {"open, not owned", THolder::OpenOnly, TCopyClaim::Only},
        {"owned by a live thread", THolder::LiveOwner, TCopyClaim::Another},
        {"left abandoned by its owner", THolder::EndedOwner, TCopyClaim::Only},
    };
    int row = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // A name of the test's own: the program's mutex is left to the program.
        const std::string name = "Global\\M770BUpdate.SingleCopyTest." +
                                 std::to_string(GetCurrentProcessId()) + "." +
                                 std::to_string(row++);
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE held = nullptr;
        std::thread holder;
        if (c.holder != THolder::None) {
            holder = std::thread([&] {
                held = CreateMutexA(nullptr, FALSE, name.c_str());
                if (c.holder != THolder::OpenOnly)
                    WaitForSingleObject(held, INFINITE);
                SetEvent(ready);
                if (c.holder == THolder::LiveOwner)
                    WaitForSingleObject(release, INFINITE);
            });
            EXPECT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
            if (c.holder == THolder::EndedOwner)
                holder.join();
        }
        EXPECT_EQ(ClaimCopyMutex(name.c_str()), c.claim);
        SetEvent(release);
        if (holder.joinable())
            holder.join();
        for (HANDLE handle : {ready, release, held})
            if (handle)
                CloseHandle(handle);
    }
}

// The windows a second copy may find: only a visible window of the program's classes whose
// title starts with the program's, and never one of its own process.
TEST(SingleCopy, TheFirstCopysWindowIsAVisibleProgramWindowWithTheProgramTitle) {
    Application.Initialize();
    TWriteForm *progress = nullptr;
    Application.CreateForm(progress);
    HWND other = CreateWindowExA(0, "Static", "ZD-M770B Firmware update", WS_POPUP | WS_VISIBLE, 0,
                                 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    const DWORD anotherProcess = GetCurrentProcessId() + 4;

    struct Case {
        const char *title;
        bool visible;
        bool found;
    };
    const Case cases[] = {
        {"ZD-M770B Firmware update 2.00", true, true},
        {"ZD-M770B Firmware update", true, true},
        {"ZD-M770B Firmware update 2.00", false, false}, // hidden between two drives
        {"Firmware update", true, false},                // another program's window of that class
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title + std::string(c.visible ? ", visible" : ", hidden"));
        progress->SetCaption(c.title);
        ShowWindow(progress->Handle(), c.visible ? SW_SHOWNOACTIVATE : SW_HIDE);
        EXPECT_EQ(FindFirstCopyWindow(anotherProcess), c.found ? progress->Handle() : nullptr)
            << "a window of another class with the title must not be taken";
        EXPECT_EQ(FindFirstCopyWindow(GetCurrentProcessId()), nullptr)
            << "a copy's own window is not the first copy's";
    }
    DestroyWindow(other);
    delete progress;
}

} // namespace
