// The progress window: its label, its frame, and a showing that only the worker can end.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingMessages.h"
#include "tests/unit/update/MessagePump.h"
#include "ui/Application.h"
#include "update/FirmwareImage.h"
#include "update/WriteUnit.h"

namespace {

TEST(WriteLabelText, TakesTheHeadAndTheDriveRevisionFromTheCaption) {
    struct Case {
        std::string caption;
        std::string label;
    };
    const Case cases[] = {
        // 34 characters: positions 0..28, position 29 dropped, 30..33 the drive's revision.
        {"(0,3) VANDREL CDR-M770B Progr*1.07",
         "(0,3) VANDREL CDR-M770B Progr Updating... (1.07 >> 2.00)"},
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW*XYZ",
         "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... (XYZ >> 2.00)"},
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW*XY",
         "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... (XY >> 2.00)"},
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW*X",
         "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... (X >> 2.00)"},
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW*", "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... ( >> 2.00)"},
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW", "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... ( >> 2.00)"},
        {"(1,5) SHORT", "(1,5) SHORT Updating... ( >> 2.00)"},
        {"", " Updating... ( >> 2.00)"},
        // Whatever lies beyond position 33 is not used.
        {"(0,3) ABCDEFGHIJKLMNOPQRSTUVW*1234567",
         "(0,3) ABCDEFGHIJKLMNOPQRSTUVW Updating... (1234 >> 2.00)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(WriteLabelText(c.caption, "2.00"), c.label);
    }
    EXPECT_EQ(WriteLabelText("(0,0) A", ""), "(0,0) A Updating... ( >> )");
    EXPECT_EQ(RevisionTitle("2.00"), "ZD-M770B Firmware update 2.00");
    EXPECT_EQ(RevisionTitle(""), "ZD-M770B Firmware update ");
}

// Only an adapter that tells a limit below one 32 KiB chunk is refused, with its limit named (the
// whole text is read in the fault matrix).
TEST(AdapterLimitRefusal, OnlyALimitBelowAChunkIsRefused) {
    for (DWORD fits : {0x0u, 0x8000u, 0x10000u}) // 0: the manager does not tell
        EXPECT_EQ(AdapterLimitRefusal(fits), "") << fits;
    EXPECT_NE(AdapterLimitRefusal(0x7FFF).find(" at most 32767 bytes "), std::string::npos);
}

class WriteFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgressWindowTest();
    }
};

TEST_F(WriteFormTest, HasATitleBarButNoSystemMenuCloseBoxOrSizingFrameAndStaysOnTop) {
    HWND window = WriteForm->Handle();
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(IsWindowVisible(window)) << "created hidden";
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, ScaleToScreen(329));
    EXPECT_EQ(client.bottom, ScaleToScreen(81));
    PBRANGE range{};
    SendMessageA(WriteForm->WriteProgressBar.Handle(), PBM_GETRANGE, FALSE,
                 reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(WriteForm->Label1.Caption(), "0%");
    EXPECT_EQ(WriteForm->Label2.Caption(), "100%");
}

// Close requests and the end of the session arrive while the worker runs (during its erase);
// the showing goes on until the worker has written and verified the drive.
TEST_F(WriteFormTest, WhileTheWorkerRunsTheShowingCannotBeClosed) {
    FakeAspiManager aspi;
    std::vector<BYTE> image(FirmwareImageSize);
    image[0x3FFFE] = 0x12;
    image[0x3FFFF] = 0x34;
    WriteForm->Image = image.data();
    WriteForm->Target = 2;
    ExpectedChecksum[0] = 0x12;
    ExpectedChecksum[1] = 0x34;
    LRESULT endSessionAnswer = -1;
    aspi.SetExecRule([&](const SRB_ExecSCSICmd &request) {
        if (request.CDBByte[0] == 0xE1) {
            HWND window = WriteForm->Handle();
            PostMessageA(window, WM_CLOSE, 0, 0);
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 1 << 29); // Alt+F4
            PostQuitMessage(0);
            endSessionAnswer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0);
        }
        return request.CDBByte[0] == 0xE4 ? FakeAspiManager::Good({0x12, 0x34})
                                          : FakeAspiManager::Good();
    });
    EXPECT_FALSE(WriteForm->WorkerRunning());
    const int result = WriteForm->ShowModal();
    WriteForm->WaitForWorker();
    EXPECT_EQ(result, ModalResultOk);
    EXPECT_EQ(aspi.ExecSubmissions().size(), 10u);
    EXPECT_EQ(endSessionAnswer, FALSE);
    EXPECT_FALSE(WriteForm->WorkerRunning());
    EXPECT_FALSE(WriteForm->Visible());
    MSG quit;
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "a refused quit must not end the next dialog";
    EXPECT_NE(SendMessageA(WriteForm->Handle(), WM_QUERYENDSESSION, 0, 0), FALSE)
        << "without a worker the session may end";
    EXPECT_TRUE(RecordedMessages().empty());
}

} // namespace
