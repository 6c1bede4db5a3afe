// The program's three windows at 150 %: Wine is told a density of 144 pixels per inch for the
// program's runs only (TScreenDensity). The main window and the progress window come in one
// update over a virtual loader, the jumper window in a run without one. In each, the client area
// and every control's rectangle (in its parent's client area) must be 1.5 times the designed
// row, within a pixel, and every label's text must fit inside the label when measured in the
// label's own font.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/JumperErrorUnit.h"
#include "app/MainUnit.h"
#include "tests/e2e/robot/Density.h"
#include "tests/e2e/robot/Robot.h"
#include "tools/firmware/SampleFirmware.h"
#include "update/WriteUnit.h"

namespace {

constexpr int Dpi = 144;
constexpr DWORD WindowWait = 30000;
// The toolkit numbers the controls of a window from this identifier in the order of its rows.
constexpr int FirstControlId = 100;

int Scaled(int designed) {
    return MulDiv(designed, Dpi, 96);
}

// `actual` is `designed` at 144 dpi, within a pixel of rounding.
bool Near(int actual, int designed) {
    return std::abs(actual - Scaled(designed)) <= 1;
}

std::string Describe(const char *what, int actual, int designed) {
    return std::string(what) + " " + std::to_string(actual) + ", designed " +
           std::to_string(designed) + " (" + std::to_string(Scaled(designed)) + " expected)";
}

// The font the toolkit makes for a row at 144 dpi (ui/Form.cpp), for measuring where the
// program's own font cannot be read from another process.
LOGFONTW MadeFont(const FontSpec &spec) {
    LOGFONTW font = {};
    font.lfHeight = Scaled(spec.height);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = spec.charset;
    lstrcpynW(font.lfFaceName, spec.name, LF_FACESIZE);
    return font;
}

// The control's rectangle in its parent's client area.
RECT RectInParent(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

void ExpectScaledForm(HWND form, const FormLayout &layout) {
    SCOPED_TRACE(layout.className);
    RECT client;
    ASSERT_TRUE(GetClientRect(form, &client));
    EXPECT_TRUE(Near(client.right, layout.clientWidth))
        << Describe("client width", client.right, layout.clientWidth);
    EXPECT_TRUE(Near(client.bottom, layout.clientHeight))
        << Describe("client height", client.bottom, layout.clientHeight);

    for (std::size_t i = 0; i < layout.controlCount; ++i) {
        const ControlLayout &row = layout.controls[i];
        SCOPED_TRACE(row.name);
        HWND control = ControlWithId(form, FirstControlId + static_cast<int>(i));
        ASSERT_NE(nullptr, control);
        HWND parent =
            row.parent == ParentIsForm ? form : ControlWithId(form, FirstControlId + row.parent);
        EXPECT_EQ(parent, GetParent(control));
        const RECT rect = RectInParent(control);
        EXPECT_TRUE(Near(rect.left, row.left)) << Describe("left", rect.left, row.left);
        EXPECT_TRUE(Near(rect.top, row.top)) << Describe("top", rect.top, row.top);
        // A label that sizes itself to its caption has its text's size, not the designed one.
        if (!(row.flags & ControlAutoSize)) {
            EXPECT_TRUE(Near(rect.right - rect.left, row.width))
                << Describe("width", rect.right - rect.left, row.width);
            EXPECT_TRUE(Near(rect.bottom - rect.top, row.height))
                << Describe("height", rect.bottom - rect.top, row.height);
        }
        if (row.kind != ControlKind::Label)
            continue;
        SIZE text;
        const LOGFONTW made = MadeFont(row.font ? *row.font : layout.font);
        ASSERT_TRUE(TextExtentInOwnFont(control, &text, &made)) << "no font to measure with";
        // A label sized by the program to its text was measured there in the font it really
        // has: the same size here says that font is the one the row designs.
        if (row.flags & ControlAutoSize) {
            EXPECT_EQ(text.cx, rect.right - rect.left) << WindowTextOf(control);
            EXPECT_EQ(text.cy, rect.bottom - rect.top) << WindowTextOf(control);
        }
        EXPECT_LE(text.cx, rect.right - rect.left)
            << "\"" << WindowTextOf(control) << "\" is wider than its label";
        EXPECT_LE(text.cy, rect.bottom - rect.top)
            << "\"" << WindowTextOf(control) << "\" is taller than its label";
    }
}

// Saves the window for the documentation when M770B_SCREENSHOT_FOLDER names a folder.
void SaveDocsScreenshot(HWND window, const std::string &name) {
    const char *folder = std::getenv("M770B_SCREENSHOT_FOLDER");
    if (folder && *folder) {
        EXPECT_TRUE(SaveScreenshot(window, JoinPath(folder, name + ".bmp")));
    }
}

// A case folder with the scenario and Firmware.bin, and the program started there at 144 dpi
// over the virtual drive.
class DensityRun : public ::testing::Test {
  protected:
    void Start(const std::string &caseName, const std::string &scenario) {
        const std::string folder = NewCaseFolder(caseName);
        ASSERT_TRUE(WriteTextFile(JoinPath(folder, "scenario.txt"), scenario));
        ASSERT_TRUE(WriteSampleFirmware(JoinPath(folder, "Firmware.bin"), 5, "2.00"));
        TLaunch launch = ProgramLaunch(folder, StagedSimulatorFolder());
        launch.Set("WINEDLLOVERRIDES", "wnaspi32=n");
        launch.Set("M770B_SIM_SCENARIO", JoinPath(folder, "scenario.txt"));
        // The density applies to this start only: the program reads it as it starts, and the
        // showing of its first window proves that it has.
        TScreenDensity density(Dpi);
        ASSERT_TRUE(density.Set());
        ASSERT_TRUE(run_.Start(launch)) << run_.Error();
        first_ = run_.WaitForWindow(TWindowQuery(), WindowWait);
        ASSERT_NE(nullptr, first_);
    }
    TProgramRun run_;
    HWND first_ = nullptr;
};

TEST_F(DensityRun, MainAndProgressWindowsScaleFromTheirLayouts) {
    // A slow erase keeps the progress window up while it is read.
    Start("density_update", "adapters = 1\n"
                            "[device 0 1]\n"
                            "kind = loader\n"
                            "latency_erase = 1500\n"
                            "latency_chunk = 300\n");
    HWND mainWindow = run_.WaitForWindow(TWindowQuery::OfClass("TMainForm"), WindowWait);
    ASSERT_NE(nullptr, mainWindow);
    ExpectScaledForm(mainWindow, MainFormLayout);
    SaveDocsScreenshot(mainWindow, "main-window-150");

    PressButton(ControlWithText(mainWindow, "UPDATE"));
    HWND progress = run_.WaitForWindow(TWindowQuery::OfClass("TWriteForm"), WindowWait);
    ASSERT_NE(nullptr, progress);
    // The label takes its caption (and its size) as the window is shown.
    Sleep(200);
    ExpectScaledForm(progress, WriteFormLayout);
    // Each read above waits for the program between two drive commands: the bar has moved on.
    if (std::getenv("M770B_SCREENSHOT_FOLDER")) {
        ASSERT_TRUE(IsWindowVisible(progress));
        SaveDocsScreenshot(progress, "progress-window-150");
    }

    HWND box = run_.WaitForWindow(TWindowQuery::MessageBox(), WindowWait);
    ASSERT_NE(nullptr, box);
    TMessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(0u, info.text.rfind("Firmware update successful.", 0)) << info.text;
    PressButton(info.okButton);
    EXPECT_EQ(0u, run_.WaitForExit(10000));
}

TEST_F(DensityRun, JumperWindowScalesFromItsLayout) {
    Start("density_jumper", "adapters = 1\n");
    HWND jumper = run_.WaitForWindow(TWindowQuery::OfClass("TJumperForm"), WindowWait);
    ASSERT_NE(nullptr, jumper);
    ExpectScaledForm(jumper, JumperFormLayout);
    PressButton(ControlWithText(jumper, "OK"));
    EXPECT_EQ(0u, run_.WaitForExit(10000));
}

} // namespace
