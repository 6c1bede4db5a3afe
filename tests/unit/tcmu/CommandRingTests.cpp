// The TCMU command ring against a stand-in for the kernel's side of it (what target_core_user.c
// does when it queues a command and when it reads the answers back): the cases a guest run
// hardly ever meets, an entry that would cross the ring's end, data split over iovecs, a command
// never answered while later ones are.
#include "sim/tcmu/CommandRing.h"
#include "sim/tcmu/RingLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

const TcmuLayout &Layout = TcmuRing;
constexpr size_t RingOffset = 128;
constexpr size_t DataSize = 0x4000;
using Iovecs = std::vector<std::pair<uint64_t, uint64_t>>;

template <typename T> T Get(const uint8_t *at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void Put(uint8_t *at, T value) {
    std::memcpy(at, &value, sizeof value);
}

// The kernel's side: queues commands as queue_cmd_ring does (padding the ring's end when an entry
// does not fit before it) and reads answers as tcmu_handle_completions does.
class TKernelSide {
  public:
    explicit TKernelSide(uint32_t ringSize)
        : ringSize_(ringSize), area(RingOffset + ringSize + DataSize) {
        Put<uint16_t>(&area[Layout.version], static_cast<uint16_t>(Layout.mailboxVersion));
        Put<uint16_t>(&area[Layout.flags],
                      static_cast<uint16_t>(Layout.outOfOrder | Layout.readLengthCap));
        Put<uint32_t>(&area[Layout.ringOffset], RingOffset);
        Put<uint32_t>(&area[Layout.ringSize], ringSize);
    }

    uint64_t Data(uint64_t offset) const { return RingOffset + ringSize_ + offset; }

    uint16_t Queue(const std::vector<uint8_t> &cdb, const Iovecs &iovecs) {
        size_t base = std::max(Layout.iov + iovecs.size() * Layout.iovSize, Layout.entrySize);
        uint32_t size = static_cast<uint32_t>(base + (cdb.size() + 7) / 8 * 8);
        if (ringSize_ - head_ < size) {
            Put<uint32_t>(Entry(head_), ringSize_ - head_); // a PAD entry (opcode 0)
            head_ = 0;
        }
        uint8_t *entry = Entry(head_);
        std::memset(entry, 0, size);
        Put<uint32_t>(entry, size | Layout.opCommand);
        Put<uint16_t>(entry + Layout.id, ++lastId_);
        Put<uint32_t>(entry + Layout.iovCount, static_cast<uint32_t>(iovecs.size()));
        Put<uint64_t>(entry + Layout.cdbOffset, RingOffset + head_ + base);
        std::memcpy(entry + base, cdb.data(), cdb.size());
        for (size_t i = 0; i < iovecs.size(); ++i) {
            Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize, iovecs[i].first);
            Put<uint64_t>(entry + Layout.iov + i * Layout.iovSize + 8, iovecs[i].second);
        }
        head_ = (head_ + size) % ringSize_;
        Put<uint32_t>(&area[Layout.head], head_);
        return lastId_;
    }

    struct Answer {
        uint16_t id;
        uint8_t status, senseKey;
        uint32_t readLength; // 0 unless the read-length flag is set
    };
    std::vector<Answer> Reap() {
        std::vector<Answer> answers;
        uint32_t tail = Get<uint32_t>(&area[Layout.tail]);
        while (cleaned_ != tail) {
            const uint8_t *entry = Entry(cleaned_);
            uint32_t lengthOp = Get<uint32_t>(entry);
            if ((lengthOp & Layout.opMask) == Layout.opCommand) {
                bool read = entry[Layout.uflags] & Layout.readLengthFlag;
                answers.push_back({Get<uint16_t>(entry + Layout.id), entry[Layout.status],
                                   entry[Layout.sense + 2],
                                   read ? Get<uint32_t>(entry + Layout.readLength) : 0});
            }
            cleaned_ = (cleaned_ + (lengthOp & ~Layout.opMask)) % ringSize_;
        }
        return answers;
    }

    uint32_t ringSize_;
    std::vector<uint8_t> area;

  private:
    uint8_t *Entry(uint32_t offset) { return &area[RingOffset + offset]; }
    uint32_t head_ = 0, cleaned_ = 0;
    uint16_t lastId_ = 0;
};

RingAnswer Good(uint32_t readLength = 0) {
    RingAnswer answer;
    answer.readLength = readLength;
    return answer;
}

TEST(CommandRingTest, TakesCommandsAcrossTheRingsEndAndGathersSplitData) {
    // Two entries of 128 bytes leave 112 before the end: the third goes to the start after a PAD.
    TKernelSide kernel(368);
    const std::vector<uint8_t> chunk = {0xE2, 0x01, 0, 0, 0, 0, 0, 0, 0x80, 0};
    const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 36, 0};
    const std::vector<uint8_t> checksum = {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 300; ++i)
        kernel.area[kernel.Data(0) + i] = static_cast<uint8_t>(i);
    const uint16_t first = kernel.Queue(chunk, {{kernel.Data(200), 100}, {kernel.Data(10), 50}});
    const uint16_t second = kernel.Queue(inquiry, {});
    TCommandRing ring(kernel.area.data(), kernel.area.size());
    ASSERT_TRUE(ring.Usable());

    RingCommand command;
    ASSERT_TRUE(ring.Next(command));
    EXPECT_EQ(command.id, first);
    EXPECT_EQ(command.cdb, chunk);
    EXPECT_EQ(command.dataLength, 150u);
    std::vector<uint8_t> data = ring.Gather(command);
    ASSERT_EQ(data.size(), 150u);
    EXPECT_EQ(data[0], 200);
    EXPECT_EQ(data[99], 299 & 0xFF);
    EXPECT_EQ(data[100], 10) << "the second iovec follows the first";
    ring.Complete(command.id, Good());
    ASSERT_TRUE(ring.Next(command));
    EXPECT_EQ(command.cdb, inquiry);
    ring.Complete(command.id, Good());
    EXPECT_FALSE(ring.Next(command));
    std::vector<TKernelSide::Answer> answers = kernel.Reap();
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].id, first);
    EXPECT_EQ(answers[1].id, second);

    const uint16_t third = kernel.Queue(checksum, {{kernel.Data(0x1000), 2}});
    ASSERT_TRUE(ring.Next(command));
    EXPECT_EQ(command.id, third);
    EXPECT_EQ(command.cdb, checksum);
    const uint8_t sum[2] = {0x12, 0x34};
    ring.Scatter(command, sum, 2);
    ring.Complete(command.id, Good(2));
    answers = kernel.Reap();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, third);
    EXPECT_EQ(answers[0].readLength, 2u);
    EXPECT_EQ(kernel.area[kernel.Data(0x1000) + 1], 0x34);
}

TEST(CommandRingTest, AnAnswerTakesTheOldestEntryNotGivenBack) {
    TKernelSide kernel(4096);
    const uint16_t hung = kernel.Queue({0x00, 0, 0, 0, 0, 0}, {});
    const uint16_t identity = kernel.Queue({0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20},
                                           {{kernel.Data(0x2000), 20}, {kernel.Data(0x1000), 12}});
    TCommandRing ring(kernel.area.data(), kernel.area.size());
    RingCommand held, command;
    ASSERT_TRUE(ring.Next(held));
    ASSERT_TRUE(ring.Next(command));
    std::vector<uint8_t> answer(32);
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = static_cast<uint8_t>(0xA0 + i);
    ring.Scatter(command, answer.data(), answer.size());
    ring.Complete(command.id, Good(32));
    std::vector<TKernelSide::Answer> answers = kernel.Reap();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, identity) << "the later command answered in the held one's entry";
    EXPECT_EQ(answers[0].readLength, 32u);
    EXPECT_EQ(kernel.area[kernel.Data(0x2000) + 19], 0xA0 + 19);
    EXPECT_EQ(kernel.area[kernel.Data(0x1000)], 0xA0 + 20);

    const uint8_t sense[18] = {0x70, 0, 0x0B};
    RingAnswer aborted;
    aborted.status = 0x02;
    aborted.sense = sense;
    aborted.senseLength = sizeof sense;
    ring.Complete(held.id, aborted);
    answers = kernel.Reap();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, hung);
    EXPECT_EQ(answers[0].status, 0x02);
    EXPECT_EQ(answers[0].senseKey, 0x0B);
    EXPECT_EQ(answers[0].readLength, 0u);
}

} // namespace
