#include "sim/tcmu/CommandRing.h"

#include "sim/tcmu/RingLayout.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// The CDB length the kernel gives a command of this opcode (its scsi_command_size): by the
// opcode's group, the variable-length command 0x7F by its byte 7. The vendor groups 6 and 7 count
// as 10 bytes, so the kernel passes only the first 10 bytes of a 12-byte vendor command.
size_t CdbLength(const uint8_t *cdb) {
    static const size_t byGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
    return cdb[0] == 0x7F ? size_t(cdb[7]) + 8 : byGroup[cdb[0] >> 5];
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
    if (size_ < Layout.mailboxSize)
        return;
    ringOffset_ = Load(Layout.ringOffset);
    ringSize_ = Load(Layout.ringSize);
    next_ = tail_ = Load(Layout.tail);
}

bool TCommandRing::Usable() const {
    if (size_ < Layout.mailboxSize)
        return false;
    uint16_t version = Read<uint16_t>(area_ + Layout.version);
    uint16_t flags = Read<uint16_t>(area_ + Layout.flags);
    return version == Layout.mailboxVersion && (flags & Layout.outOfOrder) &&
           ringOffset_ >= Layout.mailboxSize && ringSize_ >= Layout.entrySize &&
           ringSize_ % 8 == 0 && ringOffset_ + uint64_t(ringSize_) <= size_ && next_ < ringSize_;
}

// Mailbox fields the kernel changes are read with acquire order, so the entry the kernel wrote
// before moving cmd_head is seen whole.
uint32_t TCommandRing::Load(size_t field) const {
    return __atomic_load_n(reinterpret_cast<const uint32_t *>(area_ + field), __ATOMIC_ACQUIRE);
}

uint8_t *TCommandRing::Entry(uint32_t offset) const {
    return area_ + ringOffset_ + offset;
}

uint32_t TCommandRing::Op(uint32_t offset) const {
    return Read<uint32_t>(Entry(offset)) & Layout.opMask;
}

uint32_t TCommandRing::Length(uint32_t offset) const {
    return Read<uint32_t>(Entry(offset)) & ~Layout.opMask;
}

// The entry after this one; an entry of no length (or running past the end) ends the walk at
// the first entry not yet taken.
uint32_t TCommandRing::After(uint32_t offset) const {
    uint32_t length = Length(offset);
    return length == 0 || length > ringSize_ - offset ? next_ : (offset + length) % ringSize_;
}

bool TCommandRing::Next(RingCommand &command) {
    uint32_t head = Load(Layout.head) % ringSize_;
    while (next_ != head) {
        uint32_t at = next_;
        uint32_t length = Length(at);
        if (length == 0 || length % 8 || length > ringSize_ - at) {
            next_ = head; // not an entry the kernel wrote: nothing after it can be trusted
            return false;
        }
        next_ = (at + length) % ringSize_;
        if (Op(at) != Layout.opCommand)
            continue; // padding before the ring's end (or an entry this handler does not ask for)
        const uint8_t *entry = Entry(at);
        command = RingCommand{};
        command.id = Read<uint16_t>(entry + Layout.id);
        uint64_t cdbOffset = Read<uint64_t>(entry + Layout.cdbOffset);
        if (cdbOffset < size_) {
            const uint8_t *cdb = area_ + cdbOffset;
            size_t cdbLength = std::min<uint64_t>(CdbLength(cdb), size_ - cdbOffset);
            command.cdb.assign(cdb, cdb + cdbLength);
        }
        uint32_t count = Read<uint32_t>(entry + Layout.iovCount);
        for (uint32_t i = 0; i < count && Layout.iov + (i + 1) * Layout.iovSize <= length; ++i) {
            uint64_t base = Read<uint64_t>(entry + Layout.iov + i * Layout.iovSize);
            uint64_t size = Read<uint64_t>(entry + Layout.iov + i * Layout.iovSize + 8);
            command.data.emplace_back(base, size);
            command.dataLength += static_cast<uint32_t>(size);
        }
        return true;
    }
    return false;
}

std::vector<uint8_t> TCommandRing::Gather(const RingCommand &command) const {
    std::vector<uint8_t> bytes;
    for (const auto &iov : command.data)
        if (iov.first <= size_ && iov.second <= size_ - iov.first)
            bytes.insert(bytes.end(), area_ + iov.first, area_ + iov.first + iov.second);
    return bytes;
}

void TCommandRing::Scatter(const RingCommand &command, const uint8_t *bytes, size_t size) {
    for (const auto &iov : command.data) {
        if (size == 0 || iov.first > size_ || iov.second > size_ - iov.first)
            break;
        size_t part = std::min<uint64_t>(size, iov.second);
        std::memcpy(area_ + iov.first, bytes, part);
        bytes += part, size -= part;
    }
}

void TCommandRing::Complete(uint16_t id, const RingAnswer &answer) {
    while (tail_ != next_ && Op(tail_) != Layout.opCommand)
        tail_ = After(tail_);
    if (tail_ == next_)
        return; // every command taken has been given back already
    uint8_t *entry = Entry(tail_);
    bool readLength =
        answer.readLength && (Read<uint16_t>(area_ + Layout.flags) & Layout.readLengthCap);
    Write<uint16_t>(entry + Layout.id, id);
    Write<uint8_t>(entry + Layout.uflags, readLength ? Layout.readLengthFlag : 0);
    std::memset(entry + Layout.status, 0, Layout.sense + Layout.senseSize - Layout.status);
    Write<uint8_t>(entry + Layout.status, answer.status);
    Write<uint32_t>(entry + Layout.readLength, readLength ? answer.readLength : 0);
    if (answer.sense)
        std::memcpy(entry + Layout.sense, answer.sense,
                    std::min<size_t>(answer.senseLength, Layout.senseSize));
    tail_ = After(tail_);
    while (tail_ != next_ && Op(tail_) != Layout.opCommand)
        tail_ = After(tail_);
    __atomic_store_n(reinterpret_cast<uint32_t *>(area_ + Layout.tail), tail_, __ATOMIC_RELEASE);
}
