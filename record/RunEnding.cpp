// The drives of the update run as the record tells them, and the lines that end the record.
//
// The run and its drives are told on the user-interface thread, each step on the worker thread
// before it hands the step over; the hand-over orders them. The end may come on either thread,
// once; no drive line follows it.
#include <atomic>

#include "record/RunRecord.h"

namespace {

std::vector<std::string> Drives;         // captions of the ticked drives, in the order of the run
std::size_t Started = 0;                 // drives started so far
std::size_t Verified = 0;                // drives whose checksum matched (the first ones started)
std::atomic<const char *> Step{nullptr}; // the step under way of the drive being written
std::atomic<bool> Ended{false};

// "1 drive", "2 drives".
std::string DriveCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " drive" : " drives");
}

std::string DriveLine(std::size_t drive, const std::string &text) {
    return "Drive " + Quoted(Drives[drive]) + ": " + text;
}

// The captions of drives first..last-1, quoted and separated by commas; "none" when empty.
std::string DriveList(std::size_t first, std::size_t last) {
    std::string list;
    for (std::size_t drive = first; drive < last; ++drive)
        list += (list.empty() ? "" : ", ") + Quoted(Drives[drive]);
    return list.empty() ? "none" : list;
}

std::string LastLine() {
    if (Drives.empty())
        return "Run ended before any drive was written";
    if (Verified == Drives.size())
        return "Run ended: every ticked drive verified: " + DriveList(0, Verified);
    // The drive the run stopped at: the one being written, or the next one between two drives.
    const std::string stop = Quoted(Drives[Verified]);
    const std::string where = Started > Verified ? "Run stopped at " : "Run stopped before ";
    return where + stop + "; verified: " + DriveList(0, Verified) +
           "; not started: " + DriveList(Started, Drives.size());
}

} // namespace

void RecordRunDrives(const std::vector<std::string> &captions) {
    Drives = captions;
    RecordLine("UPDATE pressed with " + DriveCount(captions.size()) + " ticked");
}

// A drive outside the run told (a caller that writes a drive without a run: unit tests) is not
// recorded.
void RecordDriveStarted() {
    Step = nullptr;
    if (!Ended && Started < Drives.size())
        RecordLine(DriveLine(Started++, "started"));
}

void RecordDriveStep(const char *step) {
    if (Ended || Started == Verified)
        return;
    Step = step;
    RecordLine(DriveLine(Started - 1, std::string("starting ") + step));
}

void RecordDriveNote(const std::string &text) {
    if (!Ended && Started > Verified)
        RecordLine(DriveLine(Started - 1, text));
}

void RecordDriveVerified() {
    if (!Ended && Started > Verified)
        RecordLine(DriveLine(Verified++, "verified (checksum matched)"));
}

void RecordEnd() {
    if (Ended.exchange(true))
        return;
    if (Started > Verified) {
        const char *step = Step;
        RecordLine(DriveLine(Verified, step ? std::string("failed at ") + step
                                            : std::string("failed before its erase")));
    }
    for (std::size_t drive = Started; drive < Drives.size(); ++drive)
        RecordLine(DriveLine(drive, "not started"));
    RecordLine(LastLine());
}

void RecordFailureShown() {
    if (Started > Verified)
        RecordEnd();
}
