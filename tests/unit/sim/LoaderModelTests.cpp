// The loader drive's rules, checked against the model alone.
#include "LoaderCdbs.h"
#include "TestFiles.h"

#include "sim/loader/LoaderModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

uint8_t FlagFor(uint32_t offset) { return offset == FlashSize - ChunkLength ? 0 : 1; }

InquiryData TestInquiry() {
    InquiryData data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x40 + i);
    return data;
}

IdentityData TestIdentity() {
    IdentityData data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x80 + i);
    return data;
}

// The sense key, ASC and ASCQ of an outcome as one number 0xKKAAQQ; 0 for GOOD.
uint32_t SenseCode(const ScsiOutcome &outcome) {
    if (outcome.status == ScsiStatusGood)
        return 0;
    return uint32_t(outcome.sense[2]) << 16 | uint32_t(outcome.sense[12]) << 8 |
           outcome.sense[13];
}

class LoaderModelTest : public ::testing::Test {
  protected:
    LoaderModelTest() : loader_(TestInquiry(), TestIdentity(), FlashPath()) {
        for (size_t i = 0; i < chunk_.size(); ++i)
            chunk_[i] = static_cast<uint8_t>(i * 7 + 3);
    }

    std::string FlashPath() const { return folder_.File("flash.bin"); }

    ScsiOutcome Run(const Cdb &cdb, DataDirection direction = DataDirection::None,
                    uint8_t *in = nullptr, const uint8_t *out = nullptr, uint32_t length = 0) {
        ScsiCommand command;
        command.cdb = cdb.data();
        command.cdbLength = cdb.size();
        command.direction = direction;
        command.dataIn = in;
        command.dataOut = out;
        command.dataLength = length;
        return loader_.Execute(command);
    }
    ScsiOutcome Write(const Cdb &cdb, uint32_t length = ChunkLength) {
        return Run(cdb, DataDirection::Out, nullptr, chunk_.data(), length);
    }
    ScsiOutcome WriteChunk(uint32_t offset) { return Write(ChunkCdb(offset, FlagFor(offset))); }
    ScsiOutcome ReadIn(const Cdb &cdb, std::vector<uint8_t> &buffer) {
        return Run(cdb, DataDirection::In, buffer.data(), nullptr,
                   static_cast<uint32_t>(buffer.size()));
    }

    TScratchFolder folder_;
    TLoaderModel loader_;
    std::vector<uint8_t> chunk_ = std::vector<uint8_t>(ChunkLength + 16);
};

TEST_F(LoaderModelTest, EraseFillsFlashWithFFAndArmsTheSequence) {
    EXPECT_FALSE(loader_.WriteArmed());
    EXPECT_EQ(SenseCode(Run(EraseCdb)), 0u);
    EXPECT_TRUE(loader_.WriteArmed());
    EXPECT_EQ(loader_.NextChunkOffset(), 0u);
    std::vector<uint8_t> erased(FlashSize, 0xFF);
    EXPECT_EQ(loader_.Flash(), erased);
    EXPECT_EQ(ReadBytes(FlashPath()), erased);
}

TEST_F(LoaderModelTest, ChunkWithoutEraseIsRefusedAsNotErased) {
    EXPECT_EQ(SenseCode(WriteChunk(0)), 0x098400u);
    EXPECT_EQ(loader_.Flash(), std::vector<uint8_t>(FlashSize, 0x00));
}

TEST_F(LoaderModelTest, EightChunksInOrderProgramTheFlashAndEndTheSequence) {
    Run(EraseCdb);
    for (uint32_t offset = 0; offset < FlashSize; offset += ChunkLength) {
        chunk_[0] = static_cast<uint8_t>(offset >> 15); // tell the chunks apart
        ScsiOutcome outcome = WriteChunk(offset);
        ASSERT_EQ(SenseCode(outcome), 0u) << "offset " << offset;
        EXPECT_EQ(outcome.transferred, ChunkLength);
        // Written through at once: the file already holds the chunk.
        std::vector<uint8_t> file = ReadBytes(FlashPath());
        ASSERT_EQ(file.size(), FlashSize);
        EXPECT_EQ(0, std::memcmp(file.data() + offset, chunk_.data(), ChunkLength));
        if (offset + ChunkLength < FlashSize) {
            EXPECT_EQ(file[offset + ChunkLength], 0xFF) << "beyond the chunk stays erased";
        }
    }
    EXPECT_FALSE(loader_.WriteArmed());
    EXPECT_EQ(SenseCode(WriteChunk(0)), 0x098400u) << "flash is programmed, not erased";
}

TEST_F(LoaderModelTest, ChunkOfWrongOrderLengthOrFlagIsAFirmwareDataError) {
    struct Case {
        const char *what;
        Cdb cdb;
        uint32_t dataLength;
    };
    const Case cases[] = {
        {"second chunk first", ChunkCdb(0x8000, 1), ChunkLength},
        {"offset inside a chunk", ChunkCdb(0x0100, 1), ChunkLength},
        {"last flag on a first chunk", ChunkCdb(0, 0), ChunkLength},
        {"flag 2", ChunkCdb(0, 2), ChunkLength},
        {"CDB length 0x4000", ChunkCdb(0, 1, 0x4000), ChunkLength},
        {"CDB length 0x8001", ChunkCdb(0, 1, 0x8001), ChunkLength},
        {"data 0x7FFF bytes", ChunkCdb(0, 1), ChunkLength - 1},
        {"data 0x8010 bytes", ChunkCdb(0, 1), ChunkLength + 16},
        {"offset top byte set", ChunkCdb(0x01000000, 1), ChunkLength},
    };
    Run(EraseCdb);
    for (const Case &c : cases) {
        EXPECT_EQ(SenseCode(Write(c.cdb, c.dataLength)), 0x098700u) << c.what;
        EXPECT_EQ(loader_.NextChunkOffset(), 0u) << c.what;
    }
    EXPECT_EQ(loader_.Flash(), std::vector<uint8_t>(FlashSize, 0xFF)) << "nothing was written";
    EXPECT_EQ(SenseCode(WriteChunk(0)), 0u) << "the sequence goes on after a refused chunk";
    EXPECT_EQ(SenseCode(Write(ChunkCdb(0x10000, 1))), 0x098700u) << "skipping a chunk";
    for (uint32_t offset = 0x8000; offset < 0x38000; offset += ChunkLength)
        ASSERT_EQ(SenseCode(WriteChunk(offset)), 0u);
    EXPECT_EQ(SenseCode(Write(ChunkCdb(0x38000, 1))), 0x098700u) << "more-follows on the last";
}

TEST_F(LoaderModelTest, EraseRestartsTheSequenceAtOffsetZero) {
    Run(EraseCdb);
    WriteChunk(0);
    WriteChunk(0x8000);
    Run(EraseCdb);
    EXPECT_EQ(SenseCode(WriteChunk(0x10000)), 0x098700u);
    EXPECT_EQ(SenseCode(WriteChunk(0)), 0u);
    EXPECT_EQ(loader_.Flash()[0x8000], 0xFF);
}

TEST_F(LoaderModelTest, ChecksumIsTheSumOfAllButTheLastTwoBytesHighByteFirst) {
    Run(EraseCdb);
    std::vector<uint8_t> buffer(8, 0xAA);
    ScsiOutcome outcome = ReadIn(ChecksumCdb, buffer);
    EXPECT_EQ(SenseCode(outcome), 0u);
    EXPECT_EQ(outcome.transferred, 2u);
    // 0x3FFFE bytes of 0xFF: 0x3FFFE * 0xFF = 0x3FBFE02, of which 16 bits are kept.
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0xFE, 0x02, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));

    std::vector<uint8_t> flash(FlashSize, 0);
    flash[0] = 0x12;
    flash[0x3FFFD] = 0x34;
    flash[0x3FFFE] = 0xFF; // the image's own checksum bytes are not summed
    flash[0x3FFFF] = 0xFF;
    EXPECT_EQ(LoaderChecksum(flash.data()), 0x46);
}

TEST_F(LoaderModelTest, DataInMovesExactlyTheCommandsBytes) {
    struct Case {
        const char *what;
        Cdb cdb;
        size_t moved;
        uint8_t first;
    };
    const Case cases[] = {
        {"INQUIRY of 36", {0x12, 0, 0, 0, 36, 0}, 36, 0x40},
        {"INQUIRY of 5", {0x12, 0, 0, 0, 5, 0}, 5, 0x40},
        {"INQUIRY of 96", {0x12, 0, 0, 0, 96, 0}, 36, 0x40},
        {"identity", IdentityCdb, 32, 0x80},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> buffer(64, 0xAA);
        ScsiOutcome outcome = ReadIn(c.cdb, buffer);
        EXPECT_EQ(SenseCode(outcome), 0u) << c.what;
        EXPECT_EQ(outcome.transferred, c.moved) << c.what;
        EXPECT_EQ(outcome.fault, TransferFault::None) << c.what;
        EXPECT_EQ(buffer[0], c.first) << c.what;
        EXPECT_EQ(buffer[c.moved - 1], uint8_t(c.first + c.moved - 1)) << c.what;
        for (size_t i = c.moved; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xAA) << c.what << ": byte " << i << " was touched";
    }
}

TEST_F(LoaderModelTest, ShortBufferIsFilledAndReportedAsOverrun) {
    std::vector<uint8_t> buffer(16, 0xAA);
    ScsiOutcome outcome = ReadIn(IdentityCdb, buffer);
    EXPECT_EQ(outcome.fault, TransferFault::Overrun);
    EXPECT_EQ(outcome.transferred, 16u);
    EXPECT_EQ(buffer[15], 0x8F);
}

TEST_F(LoaderModelTest, IllegalRequestsAndWrongDirections) {
    std::vector<uint8_t> buffer(64);
    EXPECT_EQ(SenseCode(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0x052000u) << "READ(10)";
    EXPECT_EQ(SenseCode(Run({0xE5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0x052000u);
    EXPECT_EQ(SenseCode(Run({0xE1, 0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0x052400u);
    EXPECT_EQ(SenseCode(Run({0xE1, 0x04, 0xFF, 0, 0, 0})), 0x052400u) << "6-byte erase";
    EXPECT_EQ(SenseCode(ReadIn({0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x40, 0, 0}, buffer)),
              0x052400u);
    EXPECT_EQ(SenseCode(ReadIn({0x12, 0x01, 0, 0, 36, 0}, buffer)), 0x052400u) << "EVPD";
    EXPECT_EQ(SenseCode(Run({0, 0, 0, 0, 0, 0})), 0u) << "TEST UNIT READY";
    EXPECT_FALSE(loader_.WriteArmed()) << "the refused erase armed nothing";

    EXPECT_EQ(Run(ChecksumCdb).fault, TransferFault::WrongDirection);
    EXPECT_EQ(ReadIn(EraseCdb, buffer).fault, TransferFault::WrongDirection);
    EXPECT_EQ(ReadIn(ChunkCdb(0, 1), buffer).fault, TransferFault::WrongDirection);
}

TEST(PlainDeviceTest, AnswersInquiryAndRefusesTheLoaderCommands) {
    InquiryData inquiry = TestInquiry();
    std::vector<uint8_t> buffer(36);
    ScsiCommand command;
    const Cdb inquiryCdb = {0x12, 0, 0, 0, 36, 0};
    command.cdb = inquiryCdb.data();
    command.cdbLength = 6;
    command.direction = DataDirection::In;
    command.dataIn = buffer.data();
    command.dataLength = 36;
    EXPECT_EQ(ExecutePlainCommand(inquiry, command).transferred, 36u);
    EXPECT_EQ(0, std::memcmp(buffer.data(), inquiry.data(), 36));

    command.cdb = ChecksumCdb.data();
    command.cdbLength = 12;
    ScsiOutcome outcome = ExecutePlainCommand(inquiry, command);
    EXPECT_EQ(SenseCode(outcome), 0x052000u);
    EXPECT_EQ(outcome.transferred, 0u);
}

TEST(FlashFileTest, KeepsItsContentsAcrossRestartsAndMendsItsSize) {
    TScratchFolder folder;
    std::string path = folder.File("flash.bin");
    {
        TFlashFile flash(path);
        EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>(FlashSize, 0x00)) << "created as 0x00";
        const uint8_t bytes[3] = {1, 2, 3};
        ASSERT_TRUE(flash.Write(0x3FFFD, bytes, 3));
        EXPECT_FALSE(flash.Write(0x3FFFE, bytes, 3)) << "beyond the end";
    }
    {
        TFlashFile flash(path);
        EXPECT_EQ(flash.Bytes()[0x3FFFF], 3) << "a restart keeps what was programmed";
    }
    WriteBytes(path, std::vector<uint8_t>(FlashSize + 5, 0x5A));
    {
        TFlashFile flash(path);
        EXPECT_EQ(flash.Bytes()[FlashSize - 1], 0x5A);
    }
    EXPECT_EQ(ReadBytes(path).size(), FlashSize) << "a longer file is cut";
    WriteBytes(path, std::vector<uint8_t>(10, 0x5A));
    {
        TFlashFile flash(path);
        EXPECT_EQ(flash.Bytes()[9], 0x5A);
        EXPECT_EQ(flash.Bytes()[10], 0x00);
    }
    EXPECT_EQ(ReadBytes(path).size(), FlashSize) << "a shorter file is filled";
    EXPECT_THROW(TFlashFile(folder.File("no-such-folder\\flash.bin")), std::runtime_error);
}

} // namespace
