#include "sim/tcmu/TcmuDrives.h"

#include "sim/trace/SimTrace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

constexpr uint8_t SenseKeyAbortedCommand = 0x0B;
constexpr uint8_t AscLogicalUnitNotSupported = 0x25;

// TCMU does not say which way a command's data goes: the drive knows it from the opcode, and
// takes a command it does not know as data-in (it refuses it without touching the data).
struct Direction {
    DataDirection direction;
    const char *name;
};

Direction DirectionOf(uint8_t opcode, uint64_t dataLength) {
    ExpectedDirectionResult expected = ExpectedDirection(opcode);
    if (!expected.known)
        return dataLength ? Direction{DataDirection::In, "?"}
                          : Direction{DataDirection::None, "none"};
    static const char *const names[] = {"none", "in", "out"}; // by DataDirection
    return {expected.direction, names[static_cast<int>(expected.direction)]};
}

} // namespace

TTcmuDrives::TTcmuDrives(const Scenario &scenario, RemoveLun removeLun)
    : scenario_(scenario), removeLun_(std::move(removeLun)) {
    faults_.Reset(scenario_.faults);
}

TTcmuDrives::~TTcmuDrives() {
    DetachRings();
    if (trace_)
        std::fclose(trace_);
}

std::string TTcmuDrives::Open(const std::string &scenarioPath) {
    const size_t slash = scenarioPath.rfind('/');
    hangupFile_ =
        (slash == std::string::npos ? "" : scenarioPath.substr(0, slash + 1)) + "hangup.pgid";
    trace_ = std::fopen(scenario_.tracePath.c_str(), "ab");
    if (!trace_)
        return "cannot open the trace " + scenario_.tracePath + ": " + std::strerror(errno);
    Trace(TTraceLine("load")
              .Dec("t", Now())
              .Dec("pid", getpid())
              .Text("scenario", scenarioPath)
              .Line());
    try {
        for (const DeviceScenario &device : scenario_.devices) {
            drives_.emplace_back();
            drives_.back().scenario = &device;
            drives_.back().loader.reset(
                new TLoaderModel(device.inquiry, device.identity, device.flashPath));
        }
    } catch (const std::exception &e) {
        return e.what();
    }
    return "";
}

std::string TTcmuDrives::AttachRing(size_t index, const std::string &uio, size_t areaSize) {
    Drive &drive = drives_[index];
    drive.fd = open(uio.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (drive.fd < 0)
        return "cannot open " + uio + ": " + std::strerror(errno);
    void *area = mmap(nullptr, areaSize, PROT_READ | PROT_WRITE, MAP_SHARED, drive.fd, 0);
    if (area == MAP_FAILED)
        return "cannot map " + uio + ": " + std::strerror(errno);
    drive.area = static_cast<uint8_t *>(area);
    drive.areaSize = areaSize;
    std::unique_ptr<TCommandRing> ring(new TCommandRing(drive.area, areaSize));
    if (!ring->Fault().empty())
        return uio + ": " + ring->Fault();
    drive.ring = std::move(ring);
    return "";
}

std::string TTcmuDrives::Serve(size_t index) {
    Drive &drive = drives_[index];
    uint32_t events = 0;
    if (read(drive.fd, &events, sizeof events) < 0 && errno != EAGAIN) {
        // Nothing counted: the ring is looked at all the same.
    }
    RingCommand command;
    bool answered = false;
    RingEntry entry;
    while ((entry = drive.ring->Next(command)) == RingEntry::Command || entry == RingEntry::Refused)
        answered |= entry == RingEntry::Refused || Take(drive, command);
    if (answered)
        Notify(drive);
    if (entry == RingEntry::None)
        return "";
    const std::string error = "the command ring of target " +
                              std::to_string(drive.scenario->target) + ": " + drive.ring->Fault();
    drive.ring.reset();
    return error;
}

bool TTcmuDrives::Take(Drive &drive, const RingCommand &command) {
    const DeviceScenario &device = *drive.scenario;
    const uint8_t opcode = command.cdb.empty() ? 0xFF : command.cdb[0];
    const Direction direction = DirectionOf(opcode, command.dataLength);
    std::vector<uint8_t> out;
    if (direction.direction == DataDirection::Out)
        out = drive.ring->Gather(command);
    const FaultRule *fault =
        drive.gone ? nullptr : faults_.Count(device.adapter, device.target, opcode);
    TTraceLine line("req");
    const uint32_t seq = ++seq_;
    line.Dec("seq", seq).Dec("t", Now()).Dec("ha", device.adapter).Dec("target", device.target);
    line.Dec("lun", 0).Dec("cdblen", command.cdb.size());
    line.Bytes("cdb", command.cdb.data(), command.cdb.size());
    line.Text("dir", direction.name).Dec("buflen", command.dataLength);
    if (direction.direction == DataDirection::Out)
        line.Text("digest", DigestText(Fnv1a64(out.data(), out.size())));
    if (fault)
        line.Text("fault", FaultActionName(fault->action));
    if (drive.gone)
        line.Dec("gone", 1);
    Trace(line.Line());
    if (fault && fault->action == FaultAction::Hang) {
        drive.held.push_back(command.id);
        return false;
    }

    // A data-in answer fills the whole buffer: the kernel copies all of it when no length is
    // given back (a GOOD answer without data), so what the drive did not write is zeros.
    std::vector<uint8_t> in(direction.direction == DataDirection::In ? command.dataLength : 0);
    ScsiOutcome outcome;
    if (drive.gone)
        outcome = CheckCondition(SenseKeyIllegalRequest, AscLogicalUnitNotSupported, 0);
    else
        outcome = Execute(drive, command.cdb, direction.direction, in, out);
    if (fault && fault->action == FaultAction::Remove) {
        drive.gone = true;
        removeLun_(device.target);
    }
    if (fault && fault->action == FaultAction::Hangup)
        HangUp();
    if (!in.empty())
        drive.ring->Scatter(command, in.data(), in.size());
    GiveBack(drive, command.id, outcome, in.empty() ? 0 : outcome.transferred);
    Trace(TTraceLine("done")
              .Dec("seq", seq)
              .Dec("t", Now())
              .Hex("targstat", outcome.status)
              .Dec("xfer", outcome.transferred)
              .Bytes("sense", outcome.sense.data(), outcome.sense.size())
              .Line());
    return true;
}

ScsiOutcome TTcmuDrives::Execute(Drive &drive, std::vector<uint8_t> cdb, DataDirection direction,
                                 std::vector<uint8_t> &in, const std::vector<uint8_t> &out) {
    // The kernel passes a vendor command (opcodes 0xC0-0xFF) as 10 bytes; the loader's are 12,
    // their last two bytes zero.
    if (!cdb.empty() && cdb[0] >= 0xC0 && cdb.size() == 10)
        cdb.resize(12, 0x00);
    ScsiCommand command;
    command.cdb = cdb.data();
    command.cdbLength = cdb.size();
    command.direction = direction;
    command.dataIn = in.empty() ? nullptr : in.data();
    command.dataOut = out.empty() ? nullptr : out.data();
    command.dataLength = static_cast<uint32_t>(in.empty() ? out.size() : in.size());
    return drive.loader->Execute(command);
}

void TTcmuDrives::GiveBack(Drive &drive, uint16_t id, const ScsiOutcome &outcome,
                           uint32_t readLength) {
    drive.ring->Complete(id, {outcome.status, outcome.sense, readLength});
}

void TTcmuDrives::ReleaseHeld() {
    const ScsiOutcome aborted = CheckCondition(SenseKeyAbortedCommand, 0, 0);
    for (Drive &drive : drives_) {
        if (drive.held.empty() || !drive.ring)
            continue;
        for (uint16_t id : drive.held)
            GiveBack(drive, id, aborted, 0);
        drive.held.clear();
        Notify(drive);
    }
}

// What closing a terminal does to the programs started from it: SIGHUP to the process group
// (kill(2) with a negative pid) named in hangup.pgid, sent while the command is still unanswered.
void TTcmuDrives::HangUp() {
    long group = 0;
    std::ifstream(hangupFile_) >> group;
    const bool sent = group > 1 && kill(static_cast<pid_t>(-group), SIGHUP) == 0;
    Trace(TTraceLine("hangup")
              .Dec("t", Now())
              .Dec("group", group)
              .Text("result", sent ? "sent" : "failed")
              .Line());
}

void TTcmuDrives::Notify(Drive &drive) {
    const uint32_t zero = 0;
    if (write(drive.fd, &zero, sizeof zero) != sizeof zero)
        Trace(TTraceLine("error").Dec("t", Now()).Text("text", "cannot notify the kernel").Line());
}

void TTcmuDrives::DetachRings() {
    for (Drive &drive : drives_) {
        drive.ring.reset();
        if (drive.area)
            munmap(drive.area, drive.areaSize);
        if (drive.fd >= 0)
            close(drive.fd);
        drive.area = nullptr;
        drive.fd = -1;
    }
}

void TTcmuDrives::TraceRemoved(uint8_t target) {
    Trace(TTraceLine("removed").Dec("t", Now()).Dec("target", target).Line());
}

void TTcmuDrives::Trace(const std::string &line) {
    std::lock_guard<std::mutex> hold(traceLock_);
    if (!trace_)
        return;
    std::fputs(line.c_str(), trace_);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

uint64_t TTcmuDrives::Now() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
}
