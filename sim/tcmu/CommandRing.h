// The command ring that the Linux kernel's user-space SCSI target (TCMU) shares with its handler
// through /dev/uioN (linux/target_core_user.h): a mailbox, a ring of command entries, and a data
// area after the ring that the entries' iovecs point into. Offsets, never pointers, so an area
// mapped anywhere (or a buffer in a test) works the same.
//
// Nothing of an entry is read or written before it is checked: it lies inside the ring and inside
// what the kernel has queued, a command entry has room for its answer, its CDB lies inside it
// (the kernel writes it there) and its iovecs inside the data area. A command whose CDB or data
// lie elsewhere is answered here, CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB; an entry
// the walk cannot get past breaks the ring, which then serves nothing more.
//
// Answers are written in ring order, each into the oldest entry not yet given back, with the
// cmd_id of the command it answers (the kernel completes by cmd_id, and offers out-of-order
// completion with TCMU_MAILBOX_FLAG_CAP_OOOC). So a command the drive never answers keeps one
// entry and later commands still get theirs.
#ifndef M770B_SIM_TCMU_COMMANDRING_H
#define M770B_SIM_TCMU_COMMANDRING_H

#include "sim/loader/ScsiCommand.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct RingCommand {
    uint16_t id = 0;
    std::vector<uint8_t> cdb; // as long as the kernel passed it (its opcode group's length)
    std::vector<std::pair<uint64_t, uint64_t>> data; // iovecs: offset in the area, length
    uint64_t dataLength = 0;                         // the data phase's length in bytes
};

struct RingAnswer {
    uint8_t status = ScsiStatusGood;
    SenseData sense{};       // with CHECK CONDITION
    uint32_t readLength = 0; // data-in bytes the drive moved (0: none, or not data-in)
};

// What Next found: nothing queued, a command to serve, a command it answered CHECK CONDITION
// itself, or a ring it cannot trust (Fault() says why).
enum class RingEntry { None, Command, Refused, Broken };

class TCommandRing {
  public:
    // Checks the mailbox: its version, out-of-order completion, the ring inside the area.
    TCommandRing(uint8_t *area, size_t size);

    // Empty while the ring can be served; otherwise why it cannot (one line).
    const std::string &Fault() const { return fault_; }
    // The next command the kernel queued (padding skipped).
    RingEntry Next(RingCommand &command);
    // The data-out bytes of a command Next gave, and the data-in bytes put back into its iovecs.
    std::vector<uint8_t> Gather(const RingCommand &command) const;
    void Scatter(const RingCommand &command, const uint8_t *bytes, size_t size);
    // Gives one command back with its answer and publishes the new tail; the kernel reads it once
    // it is told (4 bytes written to the uio device).
    void Complete(uint16_t id, const RingAnswer &answer);

  private:
    std::string CheckMailbox();
    RingEntry Break(const std::string &why);
    bool Parse(uint32_t at, uint32_t length, RingCommand &command) const;
    uint32_t Load(size_t field) const;
    uint8_t *Entry(uint32_t offset) const;

    uint8_t *area_;
    size_t size_;
    uint32_t ringOffset_ = 0, ringSize_ = 0;
    uint32_t next_ = 0;          // the first entry not yet taken
    std::deque<uint32_t> taken_; // the command entries taken and not yet given back, oldest first
    std::string fault_;
};

#endif
