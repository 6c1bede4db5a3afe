// Binding the ASPI manager. Wine carries a wnaspi32.dll of its own, which stands in for the
// real one here; the missing library and missing entry points are shown by the end-to-end tests.
#include <gtest/gtest.h>

#include "scsi/AspiBinding.h"
#include "tests/unit/fakes/RecordingMessages.h"

namespace {

template <typename Entry> Entry Exported(HMODULE library, const char *name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

TEST(AspiBindingTest, BindsBothEntryPointsByNameAndReleasesThem) {
    ResetRecordedMessages();
    ASSERT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);

    LoadAspi();

    HMODULE library = GetModuleHandleA("wnaspi32.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(GetASPI32SupportInfoEntry,
              Exported<LPGETASPI32SUPPORTINFO>(library, "GetASPI32SupportInfo"));
    EXPECT_EQ(SendASPI32CommandEntry, Exported<LPSENDASPI32COMMAND>(library, "SendASPI32Command"));
    EXPECT_NE(GetASPI32SupportInfoEntry, nullptr);
    EXPECT_NE(SendASPI32CommandEntry, nullptr);
    EXPECT_TRUE(RecordedMessages().empty());

    UnloadAspi();

    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    EXPECT_EQ(GetASPI32SupportInfoEntry, nullptr);
    EXPECT_EQ(SendASPI32CommandEntry, nullptr);
    UnloadAspi(); // nothing loaded: nothing happens
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
}

} // namespace
