// The loader's command set as the drive receives it: every field of every request block, every
// CDB byte, the buffers, and what each command makes of the drive's answer.
#include <cstring>

#include "scsi/DriveCommands.h"
#include "scsi/RequestExecution.h"
#include "tests/unit/scsi/CommandCases.h"
#include "tests/unit/scsi/TransportFixture.h"

namespace {

using DriveCommandTest = TransportTest;

bool AllZero(const BYTE *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(DriveCommandTest, EveryCommandFillsEveryFieldOfItsClearedBlock) {
    for (const CommandCase &command : AllCommandCases()) {
        SCOPED_TRACE(command.name);
        FakeAspiManager manager;                                 // a fresh record for each command
        std::memset(command.block, 0xA5, sizeof *command.block); // what an earlier use left
        HostAdapterId = 3;

        EXPECT_EQ(command.send(), 0);

        const auto sent = manager.ExecSubmissions();
        ASSERT_EQ(sent.size(), 1u);
        const SRB_ExecSCSICmd &block = sent[0].exec;
        EXPECT_EQ(sent[0].block, command.block);
        EXPECT_EQ(block.SRB_Cmd, SC_EXEC_SCSI_CMD);
        EXPECT_EQ(block.SRB_Status, SS_PENDING);
        EXPECT_EQ(block.SRB_HaId, 3);
        EXPECT_EQ(block.SRB_Flags, command.flags);
        EXPECT_EQ(block.SRB_Hdr_Rsvd, 0u);
        EXPECT_EQ(block.SRB_Target, CaseTarget);
        EXPECT_EQ(block.SRB_Lun, 0);
        EXPECT_EQ(block.SRB_Rsvd1, 0);
        EXPECT_EQ(block.SRB_BufLen, command.byteCount);
        EXPECT_EQ(block.SRB_BufPointer, command.buffer);
        EXPECT_EQ(block.SRB_SenseLen, 16);
        EXPECT_EQ(block.SRB_CDBLen, command.cdb.size());
        EXPECT_EQ(block.SRB_HaStat, 0);
        EXPECT_EQ(block.SRB_TargStat, 0);
        const auto created = events.CallsOf(RecordingEventCalls::Kind::CreateEvent);
        ASSERT_FALSE(created.empty());
        EXPECT_EQ(block.SRB_PostProc, created.back().handle);
        EXPECT_TRUE(AllZero(block.SRB_Rsvd2, sizeof block.SRB_Rsvd2));
        std::vector<BYTE> cdb(block.CDBByte, block.CDBByte + 16);
        std::vector<BYTE> expected = command.cdb;
        expected.resize(16, 0x00);
        EXPECT_EQ(cdb, expected);
        EXPECT_TRUE(AllZero(block.SenseArea, sizeof block.SenseArea));
    }
}

TEST_F(DriveCommandTest, TwelveByteCdbNeverSurvivesIntoALaterSixByteOne) {
    ASSERT_EQ(ReadDriveIdentity(CaseTarget), 0);
    ASSERT_EQ(TestUnitReady(CaseTarget), 0);
    ASSERT_EQ(ScsiInquiry(CaseTarget, 36), 0);

    const auto sent = aspi.ExecSubmissions();
    ASSERT_EQ(sent.size(), 3u);
    const BYTE unitReady[16] = {};
    EXPECT_EQ(std::memcmp(sent[1].exec.CDBByte, unitReady, 16), 0);
    const BYTE inquiry[16] = {0x12, 0x00, 0x00, 0x00, 0x24};
    EXPECT_EQ(std::memcmp(sent[2].exec.CDBByte, inquiry, 16), 0);
    EXPECT_EQ(sent[1].exec.SRB_CDBLen, 6);
}

TEST_F(DriveCommandTest, ChunkWriteSendsItsSlotsBufferUnchanged) {
    for (int slot = 1; slot <= ChunkSlotCount; ++slot) {
        for (DWORD i = 0; i < DataBufferSize; ++i) {
            ChunkBuffer[slot - 1][i] = static_cast<BYTE>(i * 7 + slot);
        }
    }
    for (int slot = 1; slot <= ChunkSlotCount; ++slot) {
        ASSERT_EQ(WriteFlashChunk(slot, 2, 0x8000 * (slot - 1), slot < 8), 0);
    }
    const auto sent = aspi.ExecSubmissions();
    ASSERT_EQ(sent.size(), 8u);
    for (int slot = 1; slot <= ChunkSlotCount; ++slot) {
        SCOPED_TRACE(slot);
        const auto &chunk = sent[slot - 1].dataOut;
        ASSERT_EQ(chunk.size(), DataBufferSize);
        EXPECT_EQ(std::memcmp(chunk.data(), ChunkBuffer[slot - 1], DataBufferSize), 0);
    }
}

TEST_F(DriveCommandTest, ChunkOffsetKeepsOnlyItsLowTwentyFourBits) {
    ASSERT_EQ(WriteFlashChunk(4, 1, 0x12345678, 0x01), 0);
    const auto sent = aspi.ExecSubmissions();
    ASSERT_EQ(sent.size(), 1u);
    const BYTE expected[12] = {0xE2, 0x01, 0x00, 0x34, 0x56, 0x78, 0x00, 0x00, 0x80, 0x00};
    EXPECT_EQ(std::memcmp(sent[0].exec.CDBByte, expected, 12), 0);
}

// Commands that judge their request fail with its message; TEST UNIT READY and INQUIRY report
// nothing and succeed whatever the drive answered.
TEST_F(DriveCommandTest, OnlyTheLoaderCommandsJudgeTheirRequest) {
    for (const CommandCase &command : AllCommandCases()) {
        SCOPED_TRACE(command.name);
        ResetRecordedMessages();
        aspi.QueueExecAnswer(FakeAspiManager::SenseError(0x05, 0x24, 0x00));
        EXPECT_EQ(command.send(), command.judged ? 1 : 0);
        if (command.judged) {
            EXPECT_EQ(RecordedMessages(),
                      std::vector<ShownMessage>{ErrorBoxWith("SRB completed with error.")});
        } else {
            EXPECT_TRUE(RecordedMessages().empty());
        }

        ResetRecordedMessages();
        aspi.QueueExecAnswer(FakeAspiManager::Good());
        EXPECT_EQ(command.send(), 0);
        EXPECT_TRUE(RecordedMessages().empty());
    }
}

TEST_F(DriveCommandTest, RejectedOrFailedEraseIsReportedAndFails) {
    struct Case {
        FakeAspiManager::ExecAnswer answer;
        const char *message;
    };
    FakeAspiManager::ExecAnswer adapterFault;
    adapterFault.haStat = HASTAT_SEL_TO; // target status stays GOOD
    const Case cases[] = {
        {FakeAspiManager::CheckCondition(0x09, 0x82, 0x00), "Erase failure. (Code 09-82-00)"},
        {FakeAspiManager::SenseError(0x09, 0x82, 0x00), "Erase failure. (Code 09-82-00)"},
        {adapterFault, "HA_Status: Selection Timeout."},
        {FakeAspiManager::CheckCondition(0x02, 0x04, 0x00), "Target_Status: Check Condition"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        ResetRecordedMessages();
        aspi.QueueExecAnswer(c.answer);
        EXPECT_EQ(EraseFlash(1), 1);
        EXPECT_EQ(RecordedMessages(), std::vector<ShownMessage>{ErrorBoxWith(c.message)});
    }
}

TEST_F(DriveCommandTest, ChunkRefusedWithAnUnlistedLoaderCodeStillSaysSo) {
    aspi.QueueExecAnswer(FakeAspiManager::CheckCondition(0x09, 0x83, 0x00));
    EXPECT_EQ(WriteFlashChunk(1, 0, 0, 0x01), 1);
    EXPECT_EQ(RecordedMessages(),
              std::vector<ShownMessage>{ErrorBoxWith("Firmware loader error. (Code 09-83-00)")});
}

// The drive's answer stays in the shared buffer for the caller; bytes it did not send keep what
// was there before.
TEST_F(DriveCommandTest, DataInLandsInTheSharedBufferWhichIsNeverCleared) {
    std::memset(SharedDataBuffer, 0x5A, DataBufferSize);
    aspi.QueueExecAnswer(FakeAspiManager::Good({0xBE, 0xEF}));
    ASSERT_EQ(ReadFlashChecksum(0), 0);
    EXPECT_EQ(SharedDataBuffer[0], 0xBE);
    EXPECT_EQ(SharedDataBuffer[1], 0xEF);
    EXPECT_EQ(SharedDataBuffer[2], 0x5A);
    EXPECT_EQ(SharedDataBuffer[DataBufferSize - 1], 0x5A);
}

TEST_F(DriveCommandTest, DeviceTypeRequestAndItsVerdict) {
    aspi.ScriptDevice(2, 0, DTYPE_CDROM);
    aspi.ScriptDevice(2, 1, DTYPE_DASD);
    aspi.ScriptDevice(2, 2, DTYPE_WORM);
    aspi.ScriptDevice(2, 3, DTYPE_CDROM, SS_NO_DEVICE);
    aspi.ScriptDevice(2, 4, DTYPE_CDROM, SS_ERR);
    // target 5 is not scripted: SS_NO_DEVICE
    const int expected[] = {1, 0, 0, 0, 0, 0};
    HostAdapterId = 2;
    for (BYTE target = 0; target < 6; ++target) {
        SCOPED_TRACE(target);
        std::memset(&DeviceTypeRequest, 0xA5, sizeof DeviceTypeRequest);
        EXPECT_EQ(GetDeviceType(target), expected[target]);
        const auto sent = aspi.Submissions();
        ASSERT_EQ(sent.size(), target + 1u);
        const SRB_GDEVBlock &block = sent.back().deviceType;
        EXPECT_EQ(sent.back().block, &DeviceTypeRequest);
        EXPECT_EQ(block.SRB_Cmd, SC_GET_DEV_TYPE);
        EXPECT_EQ(block.SRB_Status, 0);
        EXPECT_EQ(block.SRB_HaId, 2);
        EXPECT_EQ(block.SRB_Flags, 0);
        EXPECT_EQ(block.SRB_Hdr_Rsvd, 0u);
        EXPECT_EQ(block.SRB_Target, target);
        EXPECT_EQ(block.SRB_Lun, 0);
        EXPECT_EQ(block.SRB_DeviceType, 0);
        EXPECT_EQ(block.SRB_Rsvd1, 0);
    }
    EXPECT_TRUE(events.Calls().empty()); // no event, no wait
    EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(DriveCommandTest, HostAdapterInquiryAsksOnlyWhoAnswers) {
    aspi.ScriptAdapter(0, SS_COMP);
    aspi.ScriptAdapter(1, SS_ERR);
    aspi.ScriptAdapter(2, SS_PENDING);
    // adapter 3 is not scripted: SS_INVALID_HA
    const bool expected[] = {true, false, false, false};
    for (BYTE ha = 0; ha < 4; ++ha) {
        SCOPED_TRACE(ha);
        HostAdapterId = ha;
        EXPECT_EQ(InquireHostAdapter(), expected[ha]);
        const auto sent = aspi.Submissions();
        ASSERT_EQ(sent.size(), ha + 1u);
        SRB_HAInquiry cleared = {};
        cleared.SRB_Cmd = SC_HA_INQUIRY;
        cleared.SRB_HaId = ha;
        EXPECT_EQ(std::memcmp(&sent.back().adapterInquiry, &cleared, sizeof cleared), 0);
    }
    EXPECT_TRUE(events.Calls().empty());
    EXPECT_TRUE(RecordedMessages().empty());
}

} // namespace
