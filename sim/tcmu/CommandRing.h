// The command ring that the Linux kernel's user-space SCSI target (TCMU) shares with its handler
// through /dev/uioN (linux/target_core_user.h): a mailbox, a ring of command entries, and a data
// area the entries' iovecs point into. Offsets, never pointers, so an area mapped anywhere (or a
// buffer in a test) works the same.
//
// Commands are taken in ring order; answers are written in ring order too, each into the oldest
// entry not yet given back, with the cmd_id of the command it answers (the kernel completes by
// cmd_id, and offers out-of-order completion with TCMU_MAILBOX_FLAG_CAP_OOOC). So a command the
// drive never answers keeps one entry and later commands still get theirs.
#ifndef M770B_SIM_TCMU_COMMANDRING_H
#define M770B_SIM_TCMU_COMMANDRING_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct RingCommand {
    uint16_t id = 0;
    std::vector<uint8_t> cdb; // as long as the kernel passed it (its opcode group's length)
    std::vector<std::pair<uint64_t, uint64_t>> data; // iovecs: offset in the area, length
    uint32_t dataLength = 0;                         // the data phase's length in bytes
};

struct RingAnswer {
    uint8_t status = 0;
    const uint8_t *sense = nullptr; // with CHECK CONDITION
    size_t senseLength = 0;
    uint32_t readLength = 0; // data-in bytes the drive moved (0: none, or not data-in)
};

class TCommandRing {
  public:
    TCommandRing(uint8_t *area, size_t size);

    // False when the mailbox is not one this handler understands (version, sizes, no
    // out-of-order completion).
    bool Usable() const;
    // The next command the kernel queued (padding skipped); false when there is none.
    bool Next(RingCommand &command);
    // The data-out bytes of a command, and the data-in bytes put back into its iovecs.
    std::vector<uint8_t> Gather(const RingCommand &command) const;
    void Scatter(const RingCommand &command, const uint8_t *bytes, size_t size);
    // Gives one command back with its answer and publishes the new tail; the kernel reads it once
    // it is told (4 bytes written to the uio device).
    void Complete(uint16_t id, const RingAnswer &answer);

  private:
    uint32_t Load(size_t field) const;
    uint8_t *Entry(uint32_t offset) const;
    uint32_t Op(uint32_t offset) const;
    uint32_t Length(uint32_t offset) const;
    uint32_t After(uint32_t offset) const;

    uint8_t *area_;
    size_t size_;
    uint32_t ringOffset_ = 0, ringSize_ = 0;
    uint32_t next_ = 0; // the first entry not yet taken
    uint32_t tail_ = 0; // the first entry not yet given back
};

#endif
