// The GetTickCount64 import slot that keeps our binaries loadable on Windows XP.
#include <windows.h>

#include <gtest/gtest.h>

// Not declared for Windows XP; the declaration refers to the import slot, as the thread
// library's does.
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();

namespace {

TEST(XpTickCount, TheSlotCountsWithTheSystemTickCount) {
    for (int i = 0; i < 2; ++i) { // the first call resolves the slot, the second uses it
        const DWORD before = GetTickCount();
        const ULONGLONG now = GetTickCount64();
        const DWORD after = GetTickCount();
        EXPECT_LE(DWORD(DWORD(now) - before), DWORD(after - before));
        EXPECT_GT(now, 0u);
    }
}

} // namespace
