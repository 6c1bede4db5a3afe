// The TCMU command ring with its entries laid out by hand: as the kernel queues them (padding at
// the ring's end, data split over iovecs, a command held while a later one is answered) and as it
// never does, which the ring refuses without reading or writing outside them.
#include "sim/tcmu/CommandRing.h"
#include "sim/tcmu/RingLayout.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const TcmuLayout &Layout = TcmuRing;
// The mailbox, a ring of 1000 bytes at 128, 16 KiB of data after it. Every command entry here is
// 128 bytes: header, request and answer (Layout.entrySize), then the CDB in its last 16 bytes.
constexpr uint32_t RingOffset = 128, RingSize = 1000, CommandSize = 128;
constexpr uint64_t DataStart = RingOffset + RingSize;
const std::vector<uint8_t> Inquiry = {0x12, 0, 0, 0, 36, 0};
using Iovecs = std::vector<std::pair<uint64_t, uint64_t>>;

template <typename T> T Get(const uint8_t *at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void Put(uint8_t *at, T value) {
    std::memcpy(at, &value, sizeof value);
}

// Zeroed bytes that end where a page nobody may touch begins, as the kernel's mapping of the
// area ends: a read or write past their end faults at once, with or without a sanitizer.
class TGuardedBytes {
  public:
    explicit TGuardedBytes(size_t size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        mapped_ = (pages + 1) * page;
        base_ = static_cast<uint8_t *>(
            mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED || mprotect(base_ + pages * page, page, PROT_NONE) != 0)
            throw std::runtime_error("no guarded area");
        data_ = base_ + pages * page - size;
        size_ = size;
    }
    ~TGuardedBytes() { munmap(base_, mapped_); }
    TGuardedBytes(const TGuardedBytes &) = delete;
    TGuardedBytes &operator=(const TGuardedBytes &) = delete;

    uint8_t *data() { return data_; }
    size_t size() const { return size_; }
    uint8_t &operator[](size_t i) { return data_[i]; }
    const uint8_t &operator[](size_t i) const { return data_[i]; }
    // Keeps the first `size` bytes, moved up to end at the guard.
    void Shorten(size_t size) {
        std::memmove(data_ + size_ - size, data_, size);
        data_ += size_ - size, size_ = size;
    }

  private:
    uint8_t *base_, *data_;
    size_t mapped_, size_;
};

// The shared area as the kernel's side writes it: commands laid at cmd_head from `start` on,
// answers read in the entries they were written to.
struct TArea {
    TGuardedBytes bytes{DataStart + 0x4000};
    uint32_t start = 0, head = 0;

    TArea() {
        Put<uint16_t>(&bytes[Layout.version], static_cast<uint16_t>(Layout.mailboxVersion));
        Put<uint16_t>(&bytes[Layout.flags],
                      static_cast<uint16_t>(Layout.outOfOrder | Layout.readLengthCap));
        Mailbox(Layout.ringOffset, RingOffset);
        Mailbox(Layout.ringSize, RingSize);
    }
    void Mailbox(size_t field, uint32_t value) { Put<uint32_t>(&bytes[field], value); }
    uint32_t Tail() const { return Get<uint32_t>(&bytes[Layout.tail]); }
    uint8_t *Entry(uint32_t at) { return &bytes[RingOffset + at]; }
    void Start(uint32_t at) {
        Mailbox(Layout.head, start = head = at);
        Mailbox(Layout.tail, at);
    }
    uint8_t *Lay(uint32_t length, uint32_t op) {
        uint8_t *entry = Entry(head);
        Put<uint32_t>(entry, length | op);
        Mailbox(Layout.head, head = (head + length) % RingSize);
        return entry;
    }
    uint8_t *Command(uint16_t id, const std::vector<uint8_t> &cdb, const Iovecs &iovecs = {}) {
        const uint32_t at = head;
        uint8_t *entry = Lay(CommandSize, Layout.opCommand);
        Put<uint16_t>(entry + Layout.id, id);
        Put<uint32_t>(entry + Layout.iovCount, static_cast<uint32_t>(iovecs.size()));
        Put<uint64_t>(entry + Layout.cdbOffset, RingOffset + at + CommandSize - 16);
        std::memcpy(entry + CommandSize - 16, cdb.data(), cdb.size());
        for (size_t i = 0; i < iovecs.size(); ++i) {
            Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize, iovecs[i].first);
            Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize + 8, iovecs[i].second);
        }
        return entry;
    }
    // The answer in the entry at `at`: cmd_id, SCSI status, sense key/ASC, read_len (0 when its
    // flag is not set).
    std::string Answer(uint32_t at) {
        const uint8_t *entry = Entry(at);
        char text[64];
        std::snprintf(text, sizeof text, "id=%u status=%02X sense=%02X/%02X read=%u",
                      Get<uint16_t>(entry + Layout.id), entry[Layout.status],
                      entry[Layout.sense + 2], entry[Layout.sense + 12],
                      entry[Layout.uflags] & Layout.readLengthFlag
                          ? Get<uint32_t>(entry + Layout.readLength)
                          : 0u);
        return text;
    }
};

// Command 1 is held; command 2 follows the padding at the ring's end, its data split over two
// iovecs; command 3 reads two bytes into two iovecs. Each answer takes the oldest entry not given
// back, so the tail moves past the held command's entry only once it too is answered.
TEST(CommandRingTest, ServesAcrossTheRingsEndWithSplitDataAndAHeldCommand) {
    const std::vector<uint8_t> chunk = {0xE2, 0x01, 0, 0, 0, 0, 0, 0, 0x80, 0};
    const std::vector<uint8_t> checksum = {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TArea area;
    for (size_t i = 0; i < 300; ++i)
        area.bytes[DataStart + i] = static_cast<uint8_t>(i);
    area.Start(RingSize - CommandSize - 104);
    area.Command(1, {0x00, 0, 0, 0, 0, 0});
    area.Lay(104, 0); // padding: the next command does not fit before the ring's end
    area.Command(2, chunk, {{DataStart + 200, 100}, {DataStart + 10, 50}});
    area.Command(3, checksum, {{DataStart + 0x1000, 1}, {DataStart + 0x2000, 1}});
    TCommandRing ring(area.bytes.data(), area.bytes.size());
    RingCommand held, command;
    ASSERT_EQ(ring.Next(held), RingEntry::Command);
    ASSERT_EQ(ring.Next(command), RingEntry::Command);
    EXPECT_EQ(command.cdb, chunk);
    const std::vector<uint8_t> data = ring.Gather(command);
    ASSERT_EQ(data.size(), 150u);
    EXPECT_EQ(data[0], 200);
    EXPECT_EQ(data[99], 299 & 0xFF);
    EXPECT_EQ(data[100], 10) << "the second iovec follows the first";
    ring.Complete(command.id, {});
    EXPECT_EQ(area.Answer(area.start), "id=2 status=00 sense=00/00 read=0");
    EXPECT_EQ(area.Tail(), 0u) << "past the padding, up to command 2's entry";
    ASSERT_EQ(ring.Next(command), RingEntry::Command);
    EXPECT_EQ(command.cdb, checksum);
    const uint8_t sum[2] = {0x12, 0x34};
    ring.Scatter(command, sum, 2);
    ring.Complete(command.id, {ScsiStatusGood, {}, 2});
    EXPECT_EQ(area.Answer(0), "id=3 status=00 sense=00/00 read=2");
    EXPECT_EQ(area.bytes[DataStart + 0x1000], 0x12);
    EXPECT_EQ(area.bytes[DataStart + 0x2000], 0x34);
    ring.Complete(held.id, {ScsiStatusCheckCondition, MakeFixedSense(0x0B, 0, 0), 0});
    EXPECT_EQ(area.Answer(CommandSize), "id=1 status=02 sense=0B/00 read=0");
    EXPECT_EQ(area.Tail(), 2 * CommandSize);
    EXPECT_EQ(ring.Next(command), RingEntry::None);
}

using Lay = std::function<void(TArea &)>;

// Command 1 whose header says `lengthOp`.
Lay LengthOp(uint32_t lengthOp) {
    return [=](TArea &a) { Put<uint32_t>(a.Command(1, Inquiry), lengthOp); };
}

// Command 1 with one iovec, or its CDB at `cdbOffset`; command 2 after it.
Lay WithIovec(uint64_t base, uint64_t size, uint64_t cdbOffset = 0) {
    return [=](TArea &a) {
        uint8_t *entry = a.Command(1, Inquiry, {{base, size}});
        if (cdbOffset)
            Put<uint64_t>(entry + Layout.cdbOffset, cdbOffset);
        a.Command(2, Inquiry);
    };
}

// The ring ends where the area does; the command at its end has the first byte of its CDB,
// `opcode`, at `cdbAt` of its bytes, the rest (if any) past the area.
Lay LastEntry(uint8_t opcode, uint32_t cdbAt) {
    return [=](TArea &a) {
        a.bytes.Shorten(DataStart);
        a.Start(RingSize - CommandSize);
        uint8_t *entry = a.Command(1, Inquiry);
        Put<uint64_t>(entry + Layout.cdbOffset, DataStart - CommandSize + cdbAt);
        entry[cdbAt] = opcode;
    };
}

// Six good iovecs, the last one past the entry; the CDB in the request's padding.
void SixIovecs(TArea &a) {
    uint8_t *entry = a.Command(1, Inquiry);
    Put<uint32_t>(entry + Layout.iovCount, 6);
    Put<uint64_t>(entry + Layout.cdbOffset, RingOffset + Layout.cdbOffset + 8);
    std::memcpy(entry + Layout.cdbOffset + 8, Inquiry.data(), Inquiry.size());
    for (size_t i = 0; i < 6; ++i) {
        Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize, DataStart);
        Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize + 8, 8);
    }
}

// A ring laid out as the kernel never lays it: what Next gives, one letter a call (C a command, R
// refused, N nothing more, B broken), GOOD given back for each command. A refusal reaches the
// kernel as CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB; the tail never passes an entry
// the ring could not walk past.
TEST(CommandRingTest, AnEntryOutsideTheRingOrTheDataAreaIsRefused) {
    const struct {
        const char *name;
        Lay lay;
        const char *walk;
    } cases[] = {
        {"a mailbox of another version", [](TArea &a) { ++a.bytes[Layout.version]; }, "B"},
        {"a kernel without out-of-order completion",
         [](TArea &a) { Put<uint16_t>(&a.bytes[Layout.flags], 0); }, "B"},
        {"a ring inside the mailbox", [](TArea &a) { a.Mailbox(Layout.ringOffset, 8); }, "B"},
        {"a ring of no bytes", [](TArea &a) { a.Mailbox(Layout.ringSize, 0); }, "B"},
        {"a ring larger than the area", [](TArea &a) { a.Mailbox(Layout.ringSize, 0x8000); }, "B"},
        {"cmd_head outside the ring",
         [](TArea &a) {
             a.Command(1, Inquiry);
             a.Mailbox(Layout.head, RingSize + 8);
         },
         "B"},
        {"cmd_head off the 8-byte grid",
         [](TArea &a) {
             a.Command(1, Inquiry);
             a.Mailbox(Layout.head, CommandSize + 4);
         },
         "B"},
        {"the tail off the 8-byte grid",
         [](TArea &a) {
             a.Start(4);
             a.Command(1, Inquiry);
             a.Mailbox(Layout.head, CommandSize + 8);
         },
         "B"},
        {"padding of no length", LengthOp(0), "B"},
        {"an entry as long as the ring", LengthOp(RingSize | Layout.opCommand), "B"},
        {"an entry longer than what is queued", LengthOp(256 | Layout.opCommand), "B"},
        {"a command entry too short for its answer", LengthOp(16 | Layout.opCommand), "B"},
        {"more iovecs than the entry holds", SixIovecs, "RN"},
        {"a CDB in the data area", WithIovec(DataStart, 8, DataStart), "RCN"},
        {"a CDB running past its entry", LastEntry(0x12, CommandSize - 2), "RN"},
        {"a variable-length CDB whose length lies past its entry", LastEntry(0x7F, CommandSize - 1),
         "RN"},
        {"an iovec in the ring", WithIovec(RingOffset, 8), "RCN"},
        {"an iovec past the area's end", WithIovec(DataStart + 0x4008, 8), "RCN"},
        {"an iovec running past the area's end", WithIovec(DataStart + 0x3FF8, 16), "RCN"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TArea area;
        c.lay(area);
        TCommandRing ring(area.bytes.data(), area.bytes.size());
        std::string walk;
        RingCommand command;
        for (RingEntry entry = RingEntry::Command;
             walk.size() < 6 && (entry == RingEntry::Command || entry == RingEntry::Refused);) {
            entry = ring.Next(command);
            walk += "NCRB"[static_cast<int>(entry)];
            if (entry == RingEntry::Command)
                ring.Complete(command.id, {});
        }
        EXPECT_EQ(walk, c.walk);
        EXPECT_EQ(ring.Fault().empty(), walk.back() != 'B') << ring.Fault();
        EXPECT_EQ(area.Tail(), (area.start + CommandSize * (walk.size() - 1)) % RingSize);
        if (walk[0] == 'R') {
            EXPECT_EQ(area.Answer(area.start), "id=1 status=02 sense=05/24 read=0");
        }
    }
}

} // namespace
