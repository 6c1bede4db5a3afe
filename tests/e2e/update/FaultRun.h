// One update run whose first ticked drive meets a fault of the virtual drive: the scenario's
// fault rule, the message the user must see, and the checks that follow every such run: the bar
// where the write stopped, no request after the one that ended it, the drives ticked after it
// untouched, exit code 0. Every fault the drive reports has a message, a loader sense code
// without a text of its own included.
#ifndef M770B_TESTS_E2E_UPDATE_FAULTRUN_H
#define M770B_TESTS_E2E_UPDATE_FAULTRUN_H

#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/update/UpdateWatch.h"
#include "tests/e2e/update/UpdateWorld.h"

// The step of a row whose run is refused at UPDATE, before any drive is erased: its rule is
// scenario lines of the adapter, and no progress window is shown.
constexpr int BeforeTheErase = -1;

struct FaultCase {
    const char *name;
    int step;          // the step of the write sequence whose request is hit (WriteStep)
    std::string rule;  // the fault rule's lines besides target, opcode and nth
    std::string message; // the error box that ends the run
    // The raw status the run's record gives for the failed request ("ASPI status 0x04, ..."), for
    // the rows whose record is checked.
    const char *rawStatus = nullptr;
};

// One fault of each class at one step or more, every step at least once: an SRB_Status error,
// an adapter status, CHECK CONDITION with each of the loader's sense rows and with codes it has
// no row for, BUSY and the other target statuses; and an adapter refused before the erase.
const std::vector<FaultCase> &FaultMatrix();

// The rule lines of a checksum answer whose byte `index` (0 or 1) differs from the image's.
std::string WrongChecksumByteRule(const std::vector<BYTE> &image, int index);

// The ticked drives of a fault run: the drive that meets the fault, and one ticked after it.
constexpr int FaultedTarget = 1, LaterTarget = 4;

// A sample image (revision "2.00") from `seed`.
std::vector<BYTE> SampleImage(uint32_t seed);

// Sets up `world` with loaders at FaultedTarget and LaterTarget (latencies of a few ms), the
// rule of `c` on FaultedTarget, and `image` as Firmware.bin.
void PrepareFaultWorld(TUpdateWorld &world, const FaultCase &c, const std::vector<BYTE> &image);

// Runs the program in a prepared world with both drives ticked and checks the outcome of `c`
// with gtest expectations. `limitMs` bounds the whole run.
void ExpectFaultOutcome(const TUpdateWorld &world, const FaultCase &c,
                        const std::vector<BYTE> &image, DWORD limitMs = 60000);

// What ended the run: checks that the error box of `message` ended it with exit code 0,
// that the bar stopped at the position of `stopStep`, and that no request followed the last one
// the drive received. Shared with the soak, which faults other drives than the first.
void ExpectRunEndedAt(const TUpdateWorld &world, const RunWatch &watch, int target, int stopStep,
                      const std::string &message);

extern const char ProgramTitle[];   // "ZD-M770B Firmware update", the title of the error boxes

#endif
