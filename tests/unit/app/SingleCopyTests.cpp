// One copy at a time: the mutex that tells a second copy from the first, and the window of the
// first copy that a second one brings to the front.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/SingleCopy.h"
#include "ui/Application.h"
#include "update/WriteUnit.h"

namespace {

TEST(SingleCopy, OnlyTheFirstClaimSucceeds) {
    EXPECT_TRUE(ClaimOnlyCopy());
    EXPECT_FALSE(ClaimOnlyCopy()) << "the mutex of the first claim is still held";
    EXPECT_EQ(std::string(OnlyCopyMutexName).rfind("Global\\", 0), 0u)
        << "the drives are shared by every session";
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
