// The world of one end-to-end update run: a folder with the program and the virtual drive beside
// it (bin\), the scenario that describes the loaders and their faults, a working folder (work\)
// with Firmware.bin, and, after the run, the drive's trace and flash files to check.
#ifndef M770B_TESTS_E2E_UPDATE_UPDATEWORLD_H
#define M770B_TESTS_E2E_UPDATE_UPDATEWORLD_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim/trace/SimTrace.h"
#include "tests/e2e/robot/Robot.h"

// One loader on adapter 0.
struct LoaderSpec {
    int target;
    std::string identity = "VANDREL ZD-M770B LOADER 1.10"; // 28 characters
    unsigned latencyErase = 0, latencyChunk = 0, latencyChecksum = 0;
};

// The commands of one drive's write sequence, numbered as the worker sends them.
enum WriteStep { EraseStep = 0, FirstChunkStep = 1, LastChunkStep = 8, ChecksumStep = 9 };
constexpr int WriteStepCount = 10;
BYTE OpcodeOfStep(int step);
// Which request of its opcode the step is, counted per drive from 1 (the chunks 1..8).
int NthOfStep(int step);
// Bar positions of one whole drive: 0 from the activation, then the worker's.
extern const std::vector<int> FullBarPositions;
// The bar during step `step` of the write sequence (0 = erase ... 9 = checksum).
int BarDuringStep(int step);
// The 12-byte CDB of step `step` in upper-case hexadecimal, as the trace writes it: the erase,
// a chunk at its offset with the more-follows flag on all but the last, the checksum read.
std::string WriteStepCdb(int step);
// The step as the run's record names it: "erase", "chunk 3 of 8", "checksum read".
std::string RecordStepName(int step);
// The record's lines of drive `quoted` (its caption in quotes) from its start through step
// `lastStep`: "Drive ...: started", then one "Drive ...: starting <step>" for each step.
std::vector<std::string> DriveStartLines(const std::string &quoted, int lastStep);

// One showing of the progress window as the virtual drive's trace gives it: the window that was
// shown when each command of a drive went out (the drive's erase, chunks and checksum read).
struct ProgressShowing {
    std::string title, label;
    int mostWindows = 0;        // the program's visible top-level windows at a command, at most
    std::vector<int> positions; // the bar at each command, in order
};

class TUpdateWorld {
  public:
    // A fresh folder named `name` under the runs folder of the build; an old one is emptied.
    explicit TUpdateWorld(const std::string &name);
    // The same under another folder (a Unix or Windows path); with `fresh` false, the world an
    // earlier process made there, as it left it.
    TUpdateWorld(const std::string &runsFolder, const std::string &name, bool fresh = true);

    void AddLoader(const LoaderSpec &loader);
    // Scenario lines of one [fault] section (without the header), e.g. "target = 1\nopcode = 0xE2".
    void AddFault(const std::string &lines);
    // The drive at `target` keeps the request of `step` until the test lets it go (ReleaseHeld).
    void HoldStep(int target, int step);
    void AddScenarioLines(const std::string &lines);
    // Writes scenario.txt and puts the program and the virtual drive into bin\.
    void Prepare();
    // The same with another wnaspi32.dll beside the program (a Unix or Windows path).
    void Prepare(const std::string &aspiDll);

    // A sample image (the checksum the virtual loader reports in its last two bytes) written to
    // work\Firmware.bin; returns its bytes.
    std::vector<BYTE> WriteSampleImage(uint32_t seed, const std::string &revision);
    void WriteImageBytes(const std::vector<BYTE> &bytes, const std::string &folder = "work");

    std::string BinFolder() const { return root_ + "\\bin"; }
    std::string WorkFolder() const { return root_ + "\\work"; }
    std::string ProgramPath() const { return BinFolder() + "\\M770BUpdate.exe"; }
    // The program of this world started in its working folder (or in `workFolder`), with the
    // test's own environment.
    TLaunch Launch(const std::string &workFolder = "") const;

    std::vector<TraceRecord> Trace() const;
    // Each showing of the progress window, from the trace: the commands sent while it showed,
    // a new showing where the title or the label changes or the bar goes back.
    std::vector<ProgressShowing> Showings() const;
    // For each held request the trace shows that is not let go yet: `during` runs (the drive is
    // busy with the request meanwhile), then the drive runs the request. Returns how many.
    int ReleaseHeld(const std::function<void(const TraceRecord &held)> &during = nullptr);
    // The SC_EXEC_SCSI_CMD requests to `target` with opcodes 0xE1, 0xE2, 0xE4, in order.
    std::vector<TraceRecord> WriteRequests(int target) const;
    std::vector<BYTE> Flash(int target) const;

  private:
    std::string root_;
    std::string scenario_;
    std::vector<LoaderSpec> loaders_;
    std::set<uint64_t> released_; // the seq of each held request let go
};

// Checks that `requests` are exactly the first `count` commands of the write sequence of `image`
// to `target` (erase, eight chunks with their offsets, flags and data, checksum read) with the
// request fields the program fills in; only the request of `faultedStep` (if any) was hit by a
// fault rule of the scenario. Returns "" or what differed.
std::string CheckWriteSequence(const std::vector<TraceRecord> &requests, int target,
                               const std::vector<BYTE> &image, int count = WriteStepCount,
                               int faultedStep = -1);

std::vector<BYTE> ReadWholeFile(const std::string &path);

#endif
