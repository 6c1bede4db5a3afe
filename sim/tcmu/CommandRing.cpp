#include "sim/tcmu/CommandRing.h"

#include "sim/tcmu/RingLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The CDB length the kernel gives a command of this opcode (its scsi_command_size): by the
// opcode's group, the variable-length command 0x7F by its byte 7. The vendor groups 6 and 7 count
// as 10 bytes, so the kernel passes only the first 10 bytes of a 12-byte vendor command.
// 0 when the CDB does not fit in the `room` bytes it has.
size_t CdbLength(const uint8_t *cdb, size_t room) {
    static const size_t byGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
    const size_t length = cdb[0] != 0x7F ? byGroup[cdb[0] >> 5]
                          : room >= 8    ? cdb[7] + 8u
                                         : SIZE_MAX;
    return length <= room ? length : 0;
}

template <typename T> T Read(const uint8_t *at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void Write(uint8_t *at, T value) {
    std::memcpy(at, &value, sizeof value);
}

const TcmuLayout &Layout = TcmuRing;

} // namespace

TCommandRing::TCommandRing(uint8_t *area, size_t size) : area_(area), size_(size) {
    fault_ = CheckMailbox();
}

std::string TCommandRing::CheckMailbox() {
    if (size_ < Layout.mailboxSize)
        return "a shared area of " + std::to_string(size_) + " bytes holds no mailbox";
    ringOffset_ = Load(Layout.ringOffset);
    ringSize_ = Load(Layout.ringSize);
    next_ = Load(Layout.tail);
    const uint16_t version = Read<uint16_t>(area_ + Layout.version);
    if (version != Layout.mailboxVersion ||
        !(Read<uint16_t>(area_ + Layout.flags) & Layout.outOfOrder))
        return "mailbox version " + std::to_string(version) + " or no out-of-order completion";
    if (ringOffset_ < Layout.mailboxSize || ringSize_ % 8 ||
        ringOffset_ + uint64_t(ringSize_) > size_ || next_ >= ringSize_ || next_ % 8)
        return "a command ring of " + std::to_string(ringSize_) + " bytes at " +
               std::to_string(ringOffset_) + ", tail " + std::to_string(next_) +
               ", in an area of " + std::to_string(size_);
    return "";
}

RingEntry TCommandRing::Break(const std::string &why) {
    fault_ = why;
    return RingEntry::Broken;
}

// Mailbox fields the kernel changes are read with acquire order, so the entry the kernel wrote
// before moving cmd_head is seen whole.
uint32_t TCommandRing::Load(size_t field) const {
    return __atomic_load_n(reinterpret_cast<const uint32_t *>(area_ + field), __ATOMIC_ACQUIRE);
}

uint8_t *TCommandRing::Entry(uint32_t offset) const {
    return area_ + ringOffset_ + offset;
}

RingEntry TCommandRing::Next(RingCommand &command) {
    if (!fault_.empty())
        return RingEntry::Broken;
    const uint32_t head = Load(Layout.head);
    if (head >= ringSize_ || head % 8)
        return Break("cmd_head " + std::to_string(head) + " lies outside the command ring");
    while (next_ != head) {
        // Entries are 8-byte aligned, so the header at next_ lies inside the ring.
        const uint32_t at = next_, lengthOp = Read<uint32_t>(Entry(at));
        const uint32_t length = lengthOp & ~Layout.opMask,
                       room = head > at ? head - at : ringSize_ - at;
        const bool isCommand = (lengthOp & Layout.opMask) == Layout.opCommand;
        if (length == 0 || length > room || (isCommand && length < Layout.entrySize))
            return Break(std::string(isCommand ? "a command" : "an") + " entry of " +
                         std::to_string(length) + " bytes at " + std::to_string(at) + ", " +
                         std::to_string(room) + " queued there");
        next_ = at + length == ringSize_ ? 0 : at + length;
        if (!isCommand)
            continue; // padding before the ring's end (or an entry this handler does not ask for)
        taken_.push_back(at);
        command = RingCommand{};
        command.id = Read<uint16_t>(Entry(at) + Layout.id);
        if (Parse(at, length, command))
            return RingEntry::Command;
        RingAnswer refusal;
        refusal.status = ScsiStatusCheckCondition;
        refusal.sense = MakeFixedSense(SenseKeyIllegalRequest, AscInvalidCdbField, 0);
        Complete(command.id, refusal);
        return RingEntry::Refused;
    }
    return RingEntry::None;
}

// The CDB and the iovecs of the command entry at `at`; false when they lie outside it or the
// data area.
bool TCommandRing::Parse(uint32_t at, uint32_t length, RingCommand &command) const {
    const uint8_t *entry = Entry(at);
    const uint64_t count = Read<uint32_t>(entry + Layout.iovCount);
    const uint64_t iovEnd = Layout.iov + count * Layout.iovSize; // relative to the entry
    const uint64_t cdb = Read<uint64_t>(entry + Layout.cdbOffset) - (ringOffset_ + at);
    if (iovEnd > length || cdb >= length)
        return false;
    const size_t cdbLength = CdbLength(entry + cdb, length - cdb);
    if (cdbLength == 0)
        return false;
    command.cdb.assign(entry + cdb, entry + cdb + cdbLength);
    const uint64_t dataStart = ringOffset_ + uint64_t(ringSize_);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t base = Read<uint64_t>(entry + Layout.iov + i * Layout.iovSize);
        const uint64_t size = Read<uint64_t>(entry + Layout.iov + i * Layout.iovSize + 8);
        if (base < dataStart || base > size_ || size > size_ - base)
            return false;
        command.data.emplace_back(base, size);
        command.dataLength += size;
    }
    return true;
}

std::vector<uint8_t> TCommandRing::Gather(const RingCommand &command) const {
    std::vector<uint8_t> bytes;
    for (const auto &iov : command.data)
        bytes.insert(bytes.end(), area_ + iov.first, area_ + iov.first + iov.second);
    return bytes;
}

void TCommandRing::Scatter(const RingCommand &command, const uint8_t *bytes, size_t size) {
    for (const auto &iov : command.data) {
        const size_t part = std::min<uint64_t>(size, iov.second);
        std::memcpy(area_ + iov.first, bytes, part);
        bytes += part, size -= part;
    }
}

void TCommandRing::Complete(uint16_t id, const RingAnswer &answer) {
    if (taken_.empty())
        return; // every command taken has been given back already
    uint8_t *entry = Entry(taken_.front());
    taken_.pop_front();
    const bool readLength =
        answer.readLength && (Read<uint16_t>(area_ + Layout.flags) & Layout.readLengthCap);
    Write<uint16_t>(entry + Layout.id, id);
    Write<uint8_t>(entry + Layout.uflags, readLength ? Layout.readLengthFlag : 0);
    std::memset(entry + Layout.status, 0, Layout.sense + Layout.senseSize - Layout.status);
    Write<uint8_t>(entry + Layout.status, answer.status);
    Write<uint32_t>(entry + Layout.readLength, readLength ? answer.readLength : 0);
    std::memcpy(entry + Layout.sense, answer.sense.data(), answer.sense.size());
    const uint32_t tail = taken_.empty() ? next_ : taken_.front();
    __atomic_store_n(reinterpret_cast<uint32_t *>(area_ + Layout.tail), tail, __ATOMIC_RELEASE);
}
