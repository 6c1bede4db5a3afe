// The shipped program and our wnaspi32.dll through a real SCSI stack: Wine's pass-through on a
// CD drive letter, the Linux kernel's sr driver, and loader drives that the kernel's SCSI target
// serves from user space (sim/tcmu). Run by scripts/test-real-stack inside a Linux guest, one
// case at a time, with M770B_REAL_STACK_SHARE naming the run's folder (a Unix path).
//
// A case asks the harness outside Wine for its drives: it writes its scenario, then the name of
// its folder into serve.txt of the run's folder; the harness, as root, starts the handler on that
// scenario, points drive letters D: and E: at the drives' /dev/srN, and answers with the
// handler's lines in the case's bin\drives.txt ("drive A T H:C:T:L /dev/srN /dev/sgM", or one
// line "failed: ..."). The handler's trace and flash files land in the case's bin\ folder.
//
// A case through linux/m770b-update.sh runs in two steps. Its first puts the script and
// Firmware.bin beside the program and, once the drives are served, asks for the script in
// script.txt (the folder's name; "systemd" adds a stand-in systemd-inhibit that records its
// arguments in bin\inhibit.txt and starts its command as the real one does). The harness runs the
// script as root, then, since the script's Wine prefix is its own, the case again in that prefix
// (M770B_REAL_STACK_SCRIPT set), where its second step finds the program the script started.
// bin\script.out and bin\script.rc hold the script's output and exit code, bin\polling.txt each
// drive's events_poll_msecs after the script, bin\hangup.pgid the script's process group. The
// kernel polls every drive for media changes meanwhile (as systemd has it, every 200 ms).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/robot/Robot.h"
#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

namespace {

const DWORD DriveWaitMs = 120000;

std::string RunFolder() {
    const char *share = std::getenv("M770B_REAL_STACK_SHARE");
    return share ? share : "";
}

bool SecondStep() {
    return std::getenv("M770B_REAL_STACK_SCRIPT") != nullptr;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    return lines;
}

// Writes one request line for the harness into `file` of the run's folder, whole at once.
void AskHarness(const std::string &file, const std::string &line) {
    const std::string request = JoinPath(WindowsPath(RunFolder()), file);
    WriteTextFile(request + ".new", line + "\n");
    MoveFileExA((request + ".new").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The text of `path` once it exists, within `ms`; "" after that.
std::string AwaitFile(const std::string &path, DWORD ms) {
    std::string text;
    for (DWORD waited = 0; !ReadWholeFile(path, &text) && waited < ms; waited += 200)
        Sleep(200);
    return text;
}

// How a case's program is started: by the robot, or through the script (as root in the guest,
// which has no systemd; or made to look booted by systemd).
enum class Road { Robot, Script, ScriptUnderSystemd };

// The loader's letters one place off (product characters 3-9 "Program", 11-15 "Mode1"): no
// loader for the program, nor for the script.
const char NearMissInquiry[] = "05 80 02 02 1F 00 00 00 \"VANDREL   Program Mode1 1.00\"";

// What an earlier run left in the record: the script prints only the lines of its own run.
const char EarlierRunLine[] = "2000-01-01 00:00:00.000       0 ms  Run ended: an earlier run\r\n";

// A world of loaders at `targets` (and near misses at `nearMisses`) with our production
// wnaspi32.dll beside the program; its drives served by the kernel. `problem` says what kept the
// harness from serving one drive for each.
struct TRealWorld {
    TUpdateWorld world;
    Road road;
    std::vector<int> nearMisses;
    std::vector<BYTE> image;
    std::vector<std::string> drives;
    std::string problem;

    TRealWorld(const std::string &name, const std::vector<int> &targets,
               const std::string &faultLines = "", Road road = Road::Robot,
               const std::vector<int> &nearMisses = {})
        : world(RunFolder(), name, !SecondStep()), road(road), nearMisses(nearMisses) {
        const std::string answer = world.BinFolder() + "\\drives.txt";
        if (SecondStep()) {
            image = ReadWholeFile(world.BinFolder() + "\\Firmware.bin");
            drives = Lines(AwaitFile(answer, 0));
        } else {
            for (int target : targets)
                world.AddLoader({target});
            for (int target : nearMisses)
                world.AddScenarioLines("[device 0 " + std::to_string(target) +
                                       "]\nkind = loader\ninquiry = " + NearMissInquiry);
            if (!faultLines.empty())
                world.AddFault(faultLines);
            world.Prepare(M770B_PRODUCTION_DLL);
            image = world.WriteSampleImage(31, "2.01");
            if (road != Road::Robot) {
                CopyFileA(WindowsPath(M770B_LINUX_SCRIPT).c_str(),
                          (world.BinFolder() + "\\m770b-update.sh").c_str(), FALSE);
                world.WriteImageBytes(image, "bin");
                WriteTextFile(world.BinFolder() + "\\M770BUpdate.log", EarlierRunLine);
            }
            AskHarness("serve.txt", name);
            drives = Lines(AwaitFile(answer, DriveWaitMs));
        }
        if (drives.size() == 1 && drives[0].compare(0, 7, "failed:") == 0)
            problem = "the harness could not serve the drives: " + drives[0];
        else if (drives.size() != targets.size() + nearMisses.size())
            problem = "the harness served " + std::to_string(drives.size()) + " drives for " +
                      std::to_string(targets.size() + nearMisses.size());
        if (problem.empty() && HandedOver())
            AskHarness("script.txt", name + (road == Road::ScriptUnderSystemd ? " systemd" : ""));
    }

    // The first step of a case through the script ends when the drives are served.
    bool HandedOver() const { return road != Road::Robot && !SecondStep(); }

    // Starts the case's program, or finds the one the script started; false (the case failed)
    // when there is none.
    bool Start(TProgramRun &program) const {
        const bool started = road == Road::Robot ? program.Start(world.Launch())
                                                 : program.Adopt("M770BUpdate.exe", 30000);
        if (!started)
            ADD_FAILURE() << program.Error() << "\n" << ScriptOutput();
        return started;
    }

    std::string ScriptOutput() const {
        std::string out;
        ReadWholeFile(world.BinFolder() + "\\script.out", &out);
        return road == Road::Robot ? "" : "The script's output:\n" + out;
    }

    // Once the program has ended: the script's output named each loader with its H:C:T:L and
    // /dev/srN and none of the near misses, said which road its sleep guard took, printed the
    // lines this run added to the record (or that there is none), and the script ended with
    // `scriptCode`; the kernel polled each loader, but nothing of its own reached one from its
    // erase through its `writeSteps` commands of the write sequence, and each drive's polling is
    // as before. "" or what differed, with the script's output.
    std::string ScriptProblems(unsigned scriptCode, int writeSteps) const {
        if (road == Road::Robot)
            return "";
        const std::string bin = world.BinFolder() + "\\";
        const std::string rc = AwaitFile(bin + "script.rc", 30000);
        std::string out, inhibit, record, problems;
        ReadWholeFile(bin + "script.out", &out);
        ReadWholeFile(bin + "inhibit.txt", &inhibit);
        auto expect = [&](bool fine, const std::string &what) {
            problems += fine ? "" : what + "\n";
        };
        expect(!rc.empty() && std::strtoul(rc.c_str(), nullptr, 10) == scriptCode,
               "the script's exit code is not " + std::to_string(scriptCode) + " but " + rc);
        std::string polling;
        ReadWholeFile(bin + "polling.txt", &polling);
        for (const std::string &value : Lines(polling))
            expect(value == "-1", "a drive's events_poll_msecs was left at " + value);
        for (const std::string &drive : drives) {
            std::istringstream fields(drive);
            std::string word, hctl, sr;
            int adapter = 0, target = 0;
            fields >> word >> adapter >> target >> hctl >> sr;
            const bool nearMiss = std::count(nearMisses.begin(), nearMisses.end(), target) > 0;
            expect((out.find("  " + hctl + "  " + (nearMiss ? "" : sr)) != out.npos) != nearMiss,
                   (nearMiss ? "the script took the near miss at " : "the script did not list ") +
                       hctl + " " + sr);
            const std::string polling = nearMiss ? "" : PollingProblem(target, writeSteps);
            expect(polling.empty(), polling);
        }
        const std::vector<std::string> calls = Lines(inhibit);
        expect(road == Road::Script
                   ? calls.empty() && out.find("Nothing holds off sleep") != out.npos
                   : !calls.empty() &&
                         calls.back().find("--what=sleep:shutdown:idle:handle-lid-switch --why=") ==
                             0 &&
                         calls.back().find("M770BUpdate.exe") != calls.back().npos,
               "the sleep guard took the wrong road; systemd-inhibit was asked for: " + inhibit);
        if (!ReadWholeFile(bin + "M770BUpdate.log", &record))
            record = "No record: the program wrote no";
        for (const std::string &line : Lines(record)) {
            const bool earlier = line + "\r\n" == EarlierRunLine;
            expect(
                (out.find(line) != out.npos) != earlier,
                (earlier ? "the script printed an earlier run's " : "the script did not print ") +
                    line);
        }
        return problems.empty() ? "" : problems + ScriptOutput();
    }

    // The vendor requests the handler passed to `target` (opcodes 0xC0 and up), in order.
    std::vector<TraceRecord> VendorRequests(int target) const {
        std::vector<TraceRecord> found;
        for (const TraceRecord &r : world.Trace()) {
            const std::vector<uint8_t> cdb = r.Bytes("cdb");
            if (r.kind == "req" && r.Number("target") == static_cast<uint64_t>(target) &&
                !cdb.empty() && cdb[0] >= 0xC0)
                found.push_back(r);
        }
        return found;
    }

    // "" when the kernel polled `target` (GET EVENT STATUS NOTIFICATION, the CD driver's media
    // poll) and nothing but the program's erase, chunk writes and checksum read reached it from
    // its erase through the write sequence's `count`-th command; else what differed.
    std::string PollingProblem(int target, int count) const {
        int sent = 0, polls = 0;
        for (const TraceRecord &r : world.Trace()) {
            const std::string op = r.Text("cdb").substr(0, 2);
            if (r.kind != "req" || r.Number("target") != static_cast<uint64_t>(target))
                continue;
            polls += op == "4A";
            if (sent == count || (sent == 0 && op != "E1"))
                continue;
            if (op != "E1" && op != "E2" && op != "E4")
                return op + " reached target " + std::to_string(target) + " after " +
                       std::to_string(sent) + " commands of its write";
            ++sent;
        }
        return polls ? "" : "the kernel never polled target " + std::to_string(target);
    }

    // The `done` line of the request numbered `seq`; kind "" when it was never answered.
    TraceRecord Answer(const TraceRecord &request) const {
        for (const TraceRecord &r : world.Trace())
            if (r.kind == "done" && r.Text("seq") == request.Text("seq"))
                return r;
        return {};
    }
};

// The CDB of step `step` of the write sequence as the kernel passes it: the target core takes
// vendor opcodes 0xE0-0xFF for ten-byte commands, so the loader's last two (zero) bytes stay
// behind.
std::string KernelCdb(int step) {
    return WriteStepCdb(step).substr(0, 20);
}

// The first `count` requests are the write sequence of `image` (each answered GOOD but a
// `faulted` one): erase, chunks at 0 to 0x38000 with the more-follows flag on all but the last,
// each 32 KiB of the image, the checksum read. Returns "" or what differed.
std::string CheckKernelSequence(const TRealWorld &real, const std::vector<TraceRecord> &requests,
                                const std::vector<BYTE> &image, int count, int faulted = -1) {
    std::vector<TraceRecord> sequence;
    for (const TraceRecord &r : requests)
        if (r.Text("cdb").compare(0, 2, "E3") != 0)
            sequence.push_back(r);
    if (static_cast<int>(sequence.size()) != count)
        return "the drive received " + std::to_string(sequence.size()) +
               " write-sequence requests, expected " + std::to_string(count);
    for (int step = 0; step < count; ++step) {
        const TraceRecord &r = sequence[step];
        std::string dir = "none", buflen = "0", digest;
        if (step == ChecksumStep)
            dir = "in", buflen = "2";
        if (step >= FirstChunkStep && step <= LastChunkStep) {
            dir = "out", buflen = "32768";
            digest = DigestText(Fnv1a64(image.data() + (step - FirstChunkStep) * 0x8000, 0x8000));
        }
        const std::string at = "request " + std::to_string(step) + ": ";
        if (r.Text("cdb") != KernelCdb(step))
            return at + "cdb=" + r.Text("cdb") + ", expected " + KernelCdb(step);
        if (r.Text("dir") != dir || r.Text("buflen") != buflen)
            return at + "dir=" + r.Text("dir") + " buflen=" + r.Text("buflen");
        if (r.Text("digest") != digest)
            return at + "the data differ from the image's 32 KiB at its offset";
        const std::string status = real.Answer(r).Text("targstat");
        if (step != faulted && status != "0x00")
            return at + "answered " + status + ", not GOOD";
    }
    return "";
}

bool AllZero(const std::vector<BYTE> &bytes) {
    for (BYTE b : bytes)
        if (b != 0)
            return false;
    return true;
}

// Two loaders at targets 1 and 2, both ticked, reached as a Linux user reaches them: the script
// finds them (and not the near miss at target 3), gives each a drive letter and starts the
// program under systemd-inhibit; each is written through Linux and Wine as over the virtual
// drive. The script's process group gets the hang-up signal (its terminal closed) while the
// third chunk of the first drive is under way: the write goes on.
TEST(RealStack, TwoDrivesAreListedAndWrittenThroughTheKernel) {
    TRealWorld real("two-drives", {1, 2}, "target = 1\nopcode = 0xE2\nnth = 3\naction = hangup",
                    Road::ScriptUnderSystemd, {3});
    ASSERT_EQ(real.problem, "");
    EXPECT_EQ(real.drives[0].compare(0, 10, "drive 0 1 "), 0) << real.drives[0];
    EXPECT_EQ(real.drives[1].compare(0, 10, "drive 0 2 "), 0) << real.drives[1];
    if (real.HandedOver())
        return;
    TProgramRun program;
    if (!real.Start(program))
        return;
    HWND mainWindow = WaitForMainWindow(program, 60000);
    ASSERT_NE(mainWindow, nullptr) << "the main window never came\n" << real.ScriptOutput();
    std::vector<std::string> captions;
    for (HWND box : ChildWindows(mainWindow, "Button"))
        if (IsWindowVisible(box) && (GetWindowLongA(box, GWL_STYLE) & 0x0F) == BS_AUTOCHECKBOX)
            captions.push_back(WindowTextOf(box));
    EXPECT_EQ(captions, (std::vector<std::string>{"(0,1) VANDREL ZD-M770B LOADER 1.10",
                                                  "(0,2) VANDREL ZD-M770B LOADER 1.10"}));
    SetTicks(mainWindow, {1, 2});
    RunWatch watch = WatchUpdate(program, mainWindow, 180000);

    EXPECT_EQ(watch.box.text, SuccessMessage);
    EXPECT_EQ(watch.exitCode, 0u);
    for (int target : {1, 2}) {
        EXPECT_TRUE(real.world.Flash(target) == real.image)
            << "the flash of target " << target << " differs from Firmware.bin";
        EXPECT_EQ(
            CheckKernelSequence(real, real.VendorRequests(target), real.image, WriteStepCount), "")
            << "target " << target;
    }
    std::string hangups;
    for (const TraceRecord &r : real.world.Trace())
        hangups += r.kind == "hangup" ? r.Text("result") + " " : "";
    EXPECT_EQ(hangups, "sent ") << "the hang-up signal was not sent once";
    EXPECT_EQ(real.ScriptProblems(0, WriteStepCount), "");
}

// Wine run by a user who may open the drive's device nodes but lacks CAP_SYS_RAWIO: Linux lets
// such a user send only standard commands, so the loader's vendor commands never leave the kernel.
TEST(RealStack, AnUnprivilegedUserIsRefusedTheVendorCommands) {
    TRealWorld real("unprivileged", {1});
    ASSERT_EQ(real.problem, "");
    TProgramRun program;
    ASSERT_TRUE(real.Start(program));
    RunWatch watch = WatchStartUpEnd(program, 60000);
    EXPECT_EQ(watch.box.text, "Device access security violation.");
    EXPECT_EQ(watch.exitCode, 0u);
    EXPECT_TRUE(real.VendorRequests(1).empty())
        << "a vendor command reached the drive: " << real.VendorRequests(1)[0].Text("cdb");
    EXPECT_TRUE(AllZero(real.world.Flash(1))) << "the flash changed";
}

// What a case with a fault in the write shows: no success, `message`, the end with 0 within
// `boundMs` of UPDATE, the box shown at one of `reportedAt` (steps of the write, told by the bar
// under it); the drive received the sequence up to the faulted chunk and nothing after.
void ExpectFaultedWrite(TRealWorld &real, const std::string &message, int faultedStep,
                        const std::vector<int> &reportedAt, DWORD boundMs) {
    TProgramRun program;
    if (!real.Start(program))
        return;
    HWND mainWindow = WaitForMainWindow(program, 60000);
    ASSERT_NE(mainWindow, nullptr) << "the main window never came\n" << real.ScriptOutput();
    SetTicks(mainWindow, {1});
    const DWORD start = GetTickCount();
    RunWatch watch = WatchUpdate(program, mainWindow, boundMs);
    const DWORD took = GetTickCount() - start;
    std::printf("UPDATE to the end: %lu ms; the bar stood at %d under the box\n",
                static_cast<unsigned long>(took), watch.box.barPosition);
    bool atReportedStep = false;
    for (int step : reportedAt)
        atReportedStep |= watch.box.barPosition == BarDuringStep(step);
    EXPECT_TRUE(atReportedStep) << "the bar stood at " << watch.box.barPosition;
    EXPECT_TRUE(watch.box.seen) << "no message box within " << boundMs << " ms";
    EXPECT_NE(watch.box.text, SuccessMessage);
    EXPECT_EQ(watch.box.text, message);
    EXPECT_EQ(watch.exitCode, 0u);
    EXPECT_LT(took, boundMs);
    EXPECT_EQ(
        CheckKernelSequence(real, real.VendorRequests(1), real.image, faultedStep + 1, faultedStep),
        "");
    const std::vector<BYTE> flash = real.world.Flash(1);
    const size_t written = (faultedStep - FirstChunkStep) * 0x8000;
    EXPECT_TRUE(flash.size() == real.image.size() &&
                std::equal(flash.begin(), flash.begin() + written, real.image.begin()))
        << "the chunks before the fault are not in the flash";
    EXPECT_EQ(real.ScriptProblems(2, faultedStep + 1), "");
}

// The third chunk write is never answered: the kernel's target fails it after the backstore's
// cmd_time_out (8 s), long before the program's own 60 s bound. Started through the script on a
// machine without systemd; the script's exit code says the run stopped at a drive.
TEST(RealStack, AChunkWriteThatNeverCompletesEndsTheRunWithAnError) {
    TRealWorld real("hang", {1}, "target = 1\nopcode = 0xE2\nnth = 3\naction = hang", Road::Script);
    ASSERT_EQ(real.problem, "");
    if (real.HandedOver())
        return;
    ExpectFaultedWrite(real, "SRB completed with error.", FirstChunkStep + 2, {FirstChunkStep + 2},
                       60000);
    const std::vector<TraceRecord> requests = real.VendorRequests(1);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(real.Answer(requests.back()).kind, "") << "the hung write was answered";
    // The record names the request the kernel failed with its raw status, and where the drive
    // stopped: NOT READY, LOGICAL UNIT COMMUNICATION FAILURE at the third chunk.
    std::string record;
    ReadWholeFile(real.world.BinFolder() + "\\M770BUpdate.log", &record);
    EXPECT_NE(record.find("Request 0xE2 to (0,1) failed: ASPI status 0x04, adapter status 0x00, "
                          "target status 0x02, sense key 0x02, ASC 0x08, ASCQ 0x00\r\n"),
              record.npos)
        << record;
    EXPECT_NE(record.find(": failed at chunk 3 of 8\r\n"), record.npos) << record;
}

// The drive answers the third chunk write and then its LUN is removed from the SCSI host, as
// if the drive went away: the fourth chunk cannot reach it. Sent while Linux is still deleting
// the device, Linux may refuse it with a host status and SCSI status GOOD, which Wine hands on
// as a good answer; the fifth then fails. Either way the run ends with the error.
TEST(RealStack, ALunRemovedInTheMiddleOfAWriteEndsTheRunWithAnError) {
    TRealWorld real("lun-removed", {1}, "target = 1\nopcode = 0xE2\nnth = 3\naction = remove");
    ASSERT_EQ(real.problem, "");
    ExpectFaultedWrite(real, "SRB completed with error.", FirstChunkStep + 2,
                       {FirstChunkStep + 3, FirstChunkStep + 4}, 60000);
}

} // namespace
