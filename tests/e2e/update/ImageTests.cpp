// Firmware.bin as the user meets it: the messages that end the program before the main window
// when the image cannot be used, the image's revision in the titles and the progress label, and
// a longer file whose first 256 KiB are written. None of it matters when no loader exists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/FaultRun.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"
#include "tools/firmware/SampleFirmware.h"

namespace {

const char ApplicationTitle[] = "M770BUpdate"; // the plain message dialog's title
const char NotOpen[] = "File not open.(Firmware.bin)";
const char FileError[] = "Firmware file error.(Firmware.bin) ";
const char JumperFormClass[] = "TJumperForm";

// What a run that ends at start-up showed, polled every millisecond until the process ended.
struct StartUpSeen {
    bool mainWindow = false, jumperWindow = false;
    std::vector<std::string> boxTexts, boxTitles;
    bool boxIcon = false;
    DWORD exitCode = TProgramRun::NotEnded;
};

StartUpSeen WatchStartUp(const TProgramRun &program, DWORD limitMs = 30000) {
    StartUpSeen seen;
    WaitUntil(
        [&] {
            if (!program.Find(TWindowQuery::OfClass(MainFormClass)).empty())
                seen.mainWindow = true;
            std::vector<HWND> jumper = program.Find(TWindowQuery::OfClass(JumperFormClass));
            if (!jumper.empty() && !seen.jumperWindow) {
                seen.jumperWindow = true;
                PressButton(ControlWithText(jumper.front(), "OK"));
            }
            std::vector<HWND> boxes = program.Find(TWindowQuery::OfClass(DialogClass));
            if (!boxes.empty()) {
                Sleep(20); // the text comes with the box's OK button
                const TMessageBoxInfo box = ReadMessageBox(boxes.front());
                seen.boxTexts.push_back(box.text);
                seen.boxTitles.push_back(box.title);
                seen.boxIcon |= box.icon != TBoxIcon::None;
                PressOk(boxes.front());
                WaitUntil([&] { return program.Find(TWindowQuery::OfClass(DialogClass)).empty(); },
                          5000);
            }
            return !program.Running();
        },
        limitMs);
    seen.exitCode = program.ExitCodeWithin(5000);
    return seen;
}

// The loader's checksum of an image whose bytes were changed: the sum of bytes 0..0x3FFFD,
// high byte first.
void SealChecksum(std::vector<BYTE> &image) {
    unsigned sum = 0;
    for (uint32_t i = 0; i < ChecksumOffset; ++i)
        sum += image[i];
    image[ChecksumOffset] = static_cast<BYTE>(sum >> 8);
    image[ChecksumOffset + 1] = static_cast<BYTE>(sum);
}

std::vector<BYTE> ImageWithRevision(uint32_t seed, const std::string &fourBytes) {
    std::vector<BYTE> image = SampleImage(seed);
    for (int i = 0; i < 4; ++i)
        image[RevisionOffset + i] = static_cast<BYTE>(fourBytes[i]);
    SealChecksum(image);
    return image;
}

struct StartUpCase {
    const char *name;
    std::function<void(TUpdateWorld &)> place; // puts (or does not put) Firmware.bin
    const char *message;
    std::string workFolder; // "" for the world's work folder
};

std::string UnreadableImageFolder() {
    const char *folder = std::getenv("M770B_UNREADABLE_IMAGE_FOLDER");
    return folder ? "Z:" + std::string(folder) : "";
}

TEST(UpdateImage, AnImageThatCannotBeUsedEndsTheProgramBeforeTheMainWindow) {
    ASSERT_FALSE(UnreadableImageFolder().empty()) << "the set-up names the unreadable file";
    const std::vector<BYTE> image = SampleImage(400);
    const StartUpCase cases[] = {
        {"no Firmware.bin", [](TUpdateWorld &) {}, NotOpen, ""},
        {"Firmware.bin only beside the program",
         [&](TUpdateWorld &world) { world.WriteImageBytes(image, "bin"); }, NotOpen, ""},
        {"an empty file", [](TUpdateWorld &world) { world.WriteImageBytes({}); }, FileError, ""},
        {"one byte short",
         [&](TUpdateWorld &world) {
             world.WriteImageBytes(std::vector<BYTE>(image.begin(), image.end() - 1));
         },
         FileError, ""},
        {"a file that opens but cannot be read", [](TUpdateWorld &) {}, FileError,
         UnreadableImageFolder()},
    };
    int n = 0;
    for (const StartUpCase &c : cases) {
        SCOPED_TRACE(c.name);
        TUpdateWorld world("image-start-" + std::to_string(n++));
        world.AddLoader({1});
        world.Prepare();
        c.place(world);
        TProgramRun program(world.Launch(c.workFolder));
        ASSERT_TRUE(program.Started());
        StartUpSeen seen = WatchStartUp(program);
        EXPECT_EQ(seen.boxTexts, std::vector<std::string>{c.message});
        EXPECT_EQ(seen.boxTitles, std::vector<std::string>{ApplicationTitle});
        EXPECT_FALSE(seen.boxIcon);
        EXPECT_FALSE(seen.mainWindow) << "the main window was shown";
        EXPECT_FALSE(seen.jumperWindow);
        EXPECT_EQ(seen.exitCode, 0u);
        EXPECT_TRUE(world.WriteRequests(1).empty());
    }
}

// Without a loader the image is never looked at: the jumper window comes instead of its message.
TEST(UpdateImage, WithoutALoaderNoImageFaultIsReported) {
    const std::vector<std::function<void(TUpdateWorld &)>> images = {
        [](TUpdateWorld &) {},
        [](TUpdateWorld &world) { world.WriteImageBytes({}); },
    };
    int n = 0;
    for (const auto &place : images) {
        SCOPED_TRACE(n == 0 ? "no Firmware.bin" : "an empty Firmware.bin");
        TUpdateWorld world("image-no-loader-" + std::to_string(n++));
        world.AddScenarioLines("\n[device 0 2]\nkind = cdrom");
        world.Prepare();
        place(world);
        TProgramRun program(world.Launch());
        StartUpSeen seen = WatchStartUp(program);
        EXPECT_TRUE(seen.jumperWindow);
        EXPECT_TRUE(seen.boxTexts.empty()) << seen.boxTexts.front();
        EXPECT_FALSE(seen.mainWindow);
        EXPECT_EQ(seen.exitCode, 0u);
    }
}

// The revision at 0x198 in the main window's title, the progress window's title and its label;
// a longer file is written by its first 256 KiB, checked against the checksum they carry.
TEST(UpdateImage, TheImageRevisionIsShownAndTheFirst256KiBAreWritten) {
    struct Case {
        const char *name;
        std::vector<BYTE> file;
        const char *revision;
    };
    std::vector<BYTE> longer = SampleImage(401);
    longer.resize(longer.size() + 0x1003, 0xA5); // its last two bytes are no checksum
    const Case cases[] = {
        {"four characters", ImageWithRevision(402, "V1.2"), "V1.2"},
        {"three characters and a zero", ImageWithRevision(403, std::string("105\0", 4)), "105"},
        {"a zero first", ImageWithRevision(404, std::string("\0ABC", 4)), ""},
        {"a longer file", longer, "2.00"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TUpdateWorld world("image-run-" + std::to_string(n++));
        world.AddLoader({1});
        world.Prepare();
        world.WriteImageBytes(c.file);
        TProgramRun program(world.Launch());
        HWND mainWindow = WaitForMainWindow(program);
        ASSERT_NE(mainWindow, nullptr);
        const std::string title = std::string(ProgramTitle) + " " + c.revision;
        EXPECT_EQ(WindowTextOf(mainWindow), title);
        RunWatch watch = WatchUpdate(program, mainWindow);
        const std::vector<ProgressShowing> showings = world.Showings();
        ASSERT_EQ(showings.size(), 1u);
        EXPECT_EQ(showings[0].title, title);
        EXPECT_EQ(showings[0].label, std::string("(0,1) VANDREL ZD-M770B LOADER Updating... "
                                                 "(1.10 >> ") +
                                         c.revision + ")");
        EXPECT_EQ(watch.box.text, SuccessMessage);
        EXPECT_EQ(watch.exitCode, 0u);
        const std::vector<BYTE> image(c.file.begin(), c.file.begin() + SampleImageSize);
        EXPECT_EQ(CheckWriteSequence(world.WriteRequests(1), 1, image), "");
        EXPECT_TRUE(world.Flash(1) == image) << "the flash differs from the first 256 KiB";
    }
}

} // namespace
