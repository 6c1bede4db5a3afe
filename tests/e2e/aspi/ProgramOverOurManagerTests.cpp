// The real program with our own ASPI manager beside it, as we ship it: once built over a
// stand-in for Windows' SCSI port and CD-ROM class drivers that holds the virtual loader, once
// the production build, which finds no SCSI port it can open under Wine.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ProjectVersion.h"
#include "tests/e2e/robot/RecordLines.h"
#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

namespace {

// The lines of passthrough.txt: one per SCSI pass-through the manager sent to the drives.
std::vector<std::string> PassThroughLines(const TUpdateWorld &world) {
    std::vector<std::string> lines;
    std::ifstream file(world.BinFolder() + "\\passthrough.txt");
    for (std::string line; std::getline(file, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

// The CDBs (upper-case hexadecimal) of the pass-throughs that went to `device`, in order.
std::vector<std::string> CdbsTo(const std::vector<std::string> &lines, const std::string &device) {
    std::vector<std::string> cdbs;
    for (const std::string &line : lines) {
        if (line.compare(0, device.size() + 1, device + " ") != 0)
            continue;
        const std::size_t at = line.find(" cdb=");
        if (at != std::string::npos)
            cdbs.push_back(line.substr(at + 5, line.find(' ', at + 5) - at - 5));
    }
    return cdbs;
}

// Two loaders on the one SCSI bus; the user updates the drive at target 4 only.
TEST(ProgramOverOurManager, FlashesTheTickedDriveThroughItsCdRomClassDevice) {
    TUpdateWorld world("our-manager");
    world.AddLoader({2, "VANDREL ZD-M770B LOADER 1.10"});
    world.AddLoader({4, "VANDREL ZD-M770B LOADER 1.10"});
    world.Prepare(M770B_OUR_MANAGER_DLL);
    const std::vector<BYTE> image = world.WriteSampleImage(21, "2.01");
    TProgramRun program(world.Launch());
    HWND mainWindow = WaitForMainWindow(program);
    ASSERT_NE(mainWindow, nullptr) << "the main window never came";
    EXPECT_EQ(WindowTextOf(mainWindow), "ZD-M770B Firmware update 2.01");
    SetTicks(mainWindow, {4});
    RunWatch watch = WatchUpdate(program, mainWindow);

    EXPECT_TRUE(watch.box.seen);
    EXPECT_EQ(watch.box.text, SuccessMessage);
    EXPECT_EQ(watch.exitCode, 0u);
    EXPECT_TRUE(world.Flash(4) == image)
        << "the flash of the updated drive differs from Firmware.bin";
    EXPECT_EQ(world.Flash(2), std::vector<BYTE>(0x40000, 0)) << "the unticked drive changed";

    // Both loaders are CD-ROM-class units, so the manager reached them through their class
    // devices (numbered in bus order): the write sequence went to \\.\CdRom1 alone, each chunk
    // as 32 KiB of data out.
    const std::vector<std::string> lines = PassThroughLines(world);
    std::vector<std::string> expected;
    for (int step = 0; step < WriteStepCount; ++step)
        expected.push_back(WriteStepCdb(step));
    std::vector<std::string> sent = CdbsTo(lines, "CdRom1");
    std::vector<std::string> writeSequence;
    for (const std::string &cdb : sent)
        if (cdb.compare(0, 2, "E1") == 0 || cdb.compare(0, 2, "E2") == 0 ||
            cdb.compare(0, 2, "E4") == 0)
            writeSequence.push_back(cdb);
    EXPECT_EQ(writeSequence, expected);
    for (const std::string &line : lines) {
        if (line.find(" cdb=E2") != std::string::npos) {
            EXPECT_NE(line.find(" dir=0 len=32768 "), std::string::npos) << line;
        }
    }
    for (const std::string &cdb : CdbsTo(lines, "CdRom0")) {
        EXPECT_TRUE(cdb.compare(0, 2, "E1") != 0 && cdb.compare(0, 2, "E2") != 0)
            << "the unticked drive was sent " << cdb;
    }
}

// The value of `key=` in a line of passthrough.txt, "" when it has none.
std::string Field(const std::string &line, const std::string &key) {
    const std::size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + key.size() + 2;
    return line.substr(from, line.find(' ', from) - from);
}

// The commands that reached `device` from anything but our manager, between the program's
// erase and its checksum read (or the end of the log).
std::vector<std::string> ForeignDuringWrite(const std::vector<std::string> &lines,
                                            const std::string &device) {
    std::vector<std::string> foreign;
    bool writing = false;
    for (const std::string &line : lines) {
        if (line.compare(0, device.size() + 1, device + " ") != 0 || Field(line, "by").empty())
            continue;
        const bool ours = Field(line, "by") == "program";
        const std::string opcode = Field(line, "cdb").substr(0, 2);
        if (ours && opcode == "E1")
            writing = true;
        else if (ours && opcode == "E4")
            writing = false;
        else if (!ours && writing)
            foreign.push_back(line);
    }
    return foreign;
}

// The controls our manager sent to `device` other than pass-through, as "code=error".
std::vector<std::string> ControlsOf(const std::vector<std::string> &lines,
                                    const std::string &device) {
    std::vector<std::string> controls;
    for (const std::string &line : lines)
        if (line.compare(0, device.size() + 1, device + " ") == 0 &&
            !Field(line, "control").empty())
            controls.push_back(Field(line, "control") + "=" + Field(line, "error"));
    return controls;
}

// Two loaders on a SCSI card behind an AHCI controller's 32 empty buses and another port's 8,
// under a model of Windows' class driver that polls every unit and a desktop that mounts every
// volume it can: the program finds them as adapter 0, and from each one's erase to its checksum
// read nothing but the program reaches it. The loader left unticked is never locked. A command
// that hangs comes back as the port's time-out, which the program reports and ends on.
TEST(ProgramOverOurManager, TheDrivesBeingWrittenAreAloneWithTheProgram) {
    const std::vector<std::string> vista = {"2D0944=0", "90018=0", "90020=0", "2C05C=0"};
    const std::vector<std::string> xp = {"2D0944=0", "90018=0", "90020=0", "2C05C=1"};
    struct Case {
        const char *what;
        const char *windows;
        const char *fault; // a [fault] section for the loader at target 2, or none
        std::vector<std::string> controls;
        const char *box;
    } cases[] = {
        {"Windows Vista to 11", "vista", nullptr, vista, SuccessMessage},
        {"Windows XP: no exclusive access", "xp", nullptr, xp, SuccessMessage},
        {"a chunk that hangs", "vista", "target = 2\nopcode = 0xE2\nnth = 3\naction = hang", vista,
         "SRB completed with error."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TUpdateWorld world("our-manager-alone");
        world.AddScenarioLines(std::string("windows = ") + c.windows + "\nempty_buses = 32 8");
        for (int target : {2, 4, 5})
            world.AddLoader({target, "VANDREL ZD-M770B LOADER 1.10"});
        if (c.fault)
            world.AddFault(c.fault);
        world.Prepare(M770B_OUR_MANAGER_DLL);
        const std::vector<BYTE> image = world.WriteSampleImage(23, "2.01");
        TProgramRun program(world.Launch());
        HWND mainWindow = WaitForMainWindow(program);
        ASSERT_NE(mainWindow, nullptr) << "the main window never came";
        SetTicks(mainWindow, {2, 4});
        RunWatch watch = WatchUpdate(program, mainWindow);
        EXPECT_EQ(watch.box.text, c.box);
        EXPECT_EQ(watch.exitCode, 0u);

        const std::vector<std::string> lines = PassThroughLines(world);
        // The first drive written is the one at target 2, \\.\CdRom0 in bus order.
        std::string firstErased;
        for (const std::string &line : lines)
            if (firstErased.empty() && Field(line, "by") == "program" &&
                Field(line, "cdb").compare(0, 2, "E1") == 0)
                firstErased = line.substr(0, line.find(' '));
        EXPECT_EQ(firstErased, "CdRom0") << "no drive was written, or not (0,2) first";
        const bool hang = c.fault != nullptr;
        EXPECT_EQ(world.Flash(2) == image, !hang);
        EXPECT_EQ(world.Flash(4) == image, !hang);
        EXPECT_EQ(world.Flash(5), std::vector<BYTE>(0x40000, 0)) << "the unticked drive changed";
        for (const char *written : {"CdRom0", "CdRom1"}) {
            EXPECT_EQ(ForeignDuringWrite(lines, written), std::vector<std::string>()) << written;
            if (!hang || written == std::string("CdRom0")) {
                EXPECT_EQ(ControlsOf(lines, written), c.controls) << written;
            }
        }
        EXPECT_EQ(ControlsOf(lines, "CdRom2"), std::vector<std::string>()) << "never written";
        if (hang) {
            std::string last;
            for (const std::string &line : lines)
                if (Field(line, "by") == "program")
                    last = line;
            EXPECT_NE(last.find("cdb=E20100010000"), std::string::npos) << last;
            EXPECT_NE(last.find(" timed-out"), std::string::npos)
                << "the program sent more after the timed-out chunk: " << last;
        }
    }
}

// The production manager under Wine: no SCSI port opens, so there is no host adapter. The record
// names the manager with the file version of its version resource.
TEST(ProgramOverOurManager, ProductionBuildWithoutScsiPortsFindsNoHostAdapter) {
    TUpdateWorld world("production-manager");
    world.Prepare(M770B_PRODUCTION_DLL);
    world.WriteSampleImage(22, "2.01");
    TProgramRun program(world.Launch());
    RunWatch watch = WatchStartUpEnd(program, 30000);
    EXPECT_TRUE(watch.box.seen) << "no message box came";
    EXPECT_EQ(watch.box.text, "Scsi host adapter not found.");
    EXPECT_EQ(watch.box.title, "ZD-M770B Firmware update");
    EXPECT_EQ(watch.exitCode, 0u);
    const std::string bound = "wnaspi32.dll bound: " + world.BinFolder() + "\\wnaspi32.dll, ";
    std::vector<std::string> named;
    for (const std::string &line : ReadRecordLines(world.WorkFolder()))
        if (line.rfind(bound, 0) == 0)
            named.push_back(line.substr(bound.size()));
    EXPECT_EQ(named, std::vector<std::string>{"file version " M770B_VERSION_TEXT ".0"});
}

} // namespace
