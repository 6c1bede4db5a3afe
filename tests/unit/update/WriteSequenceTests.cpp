// One drive's write sequence: the real worker against the fake ASPI manager, with the test's
// thread as the user-interface thread and a real (hidden) progress window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scsi/RequestBlocks.h"
#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingMessages.h"
#include "tests/unit/update/MessagePump.h"
#include "ui/Application.h"
#include "update/FirmwareImage.h"
#include "update/WriteUnit.h"
#include "update/sledscsi.h"

namespace {

// The image the progress window hands the worker, as the update run would.
std::vector<BYTE> TestImage(FirmwareImageSize);

constexpr BYTE EraseOpcode = 0xE1, ChunkOpcode = 0xE2, ChecksumOpcode = 0xE4;
const int BarDuringCommand[10] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 95};

// What the drive saw when each command arrived, read on the interface thread inside the step.
struct Arrival {
    BYTE opcode;
    int bar;
    DWORD writeOffset;
    bool laterSlotsUntouched; // no chunk buffer after this command's slot was filled ahead
};

class WriteSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PrepareProgressWindowTest();
        for (DWORD i = 0; i < FirmwareImageSize; ++i)
            TestImage[i] = static_cast<BYTE>(i * 31 + (i >> 15) * 7 + (i >> 9));
        TestImage[0x3FFFE] = 0x12;
        TestImage[0x3FFFF] = 0x34;
        ExpectedChecksum[0] = 0x12;
        ExpectedChecksum[1] = 0x34;
        std::memset(ChunkBuffer, 0xEE, sizeof ChunkBuffer);
        WriteForm->WriteProgressBar.SetPosition(0);
        WriteForm->SetModalResult(ModalResultNone);
        WriteForm->Image = TestImage.data();
        WriteForm->Target = 6;
    }

    // Answers every command like a good drive, except the one numbered `failAt` (0 = erase,
    // 1..8 = chunks, 9 = checksum), which gets `fault`.
    void AnswerLikeADrive(int failAt = -1,
                          FakeAspiManager::ExecAnswer fault = FakeAspiManager::ExecAnswer{},
                          std::vector<BYTE> checksum = {0x12, 0x34}) {
        aspi.SetExecRule([this, failAt, fault, checksum](const SRB_ExecSCSICmd &request) {
            const int index = static_cast<int>(arrivals.size());
            Arrival arrival{request.CDBByte[0], WriteForm->WriteProgressBar.Position(), WriteOffset,
                            true};
            if (arrival.opcode == ChunkOpcode)
                for (int slot = index; slot < ChunkSlotCount; ++slot)
                    arrival.laterSlotsUntouched &=
                        ChunkBuffer[slot][0] == 0xEE && ChunkBuffer[slot][0x7FFF] == 0xEE;
            arrivals.push_back(arrival);
            if (index == failAt)
                return fault;
            return request.CDBByte[0] == ChecksumOpcode ? FakeAspiManager::Good(checksum)
                                                        : FakeAspiManager::Good();
        });
    }

    // Runs one worker to its end (or to the end of the process, which the fake turns into an
    // exception that stops the worker).
    void RunWorker() {
        TSledSCSI worker(true);
        worker.Resume();
        ASSERT_TRUE(PumpUntil([&] { return worker.Finished(); })) << "the worker hung";
        // What the worker still asked of the window after its last step.
        PumpUntil([] { return false; }, 50);
    }

    FakeAspiManager aspi;
    std::vector<Arrival> arrivals;
};

DWORD OffsetOf(const SRB_ExecSCSICmd &request) {
    return (DWORD(request.CDBByte[2]) << 24) | (DWORD(request.CDBByte[3]) << 16) |
           (DWORD(request.CDBByte[4]) << 8) | request.CDBByte[5];
}

TEST_F(WriteSequenceTest, ASuccessfulRunErasesWritesEightChunksAndVerifies) {
    AnswerLikeADrive();
    RunWorker();

    const auto sent = aspi.ExecSubmissions();
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent[0].exec.CDBByte[0], EraseOpcode);
    EXPECT_EQ(sent[9].exec.CDBByte[0], ChecksumOpcode);
    for (int slot = 1; slot <= 8; ++slot) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const auto &chunk = sent[slot];
        const DWORD offset = (slot - 1) * 0x8000;
        EXPECT_EQ(chunk.exec.CDBByte[0], ChunkOpcode);
        EXPECT_EQ(chunk.exec.CDBByte[1], slot < 8 ? 1 : 0) << "more-follows flag";
        EXPECT_EQ(OffsetOf(chunk.exec), offset);
        EXPECT_EQ(chunk.block, &ChunkRequest[slot - 1]);
        EXPECT_EQ(chunk.exec.SRB_BufPointer, ChunkBuffer[slot - 1]);
        ASSERT_EQ(chunk.dataOut.size(), 0x8000u);
        EXPECT_TRUE(
            std::equal(chunk.dataOut.begin(), chunk.dataOut.end(), TestImage.begin() + offset))
            << "the chunk is not the image's bytes at its offset";
        EXPECT_EQ(arrivals[slot].writeOffset, offset);
        EXPECT_TRUE(arrivals[slot].laterSlotsUntouched) << "a later chunk was copied ahead";
    }
    EXPECT_EQ(sent[8].dataOut[0x7FFE], 0x12) << "the last chunk ends with the checksum bytes";
    EXPECT_EQ(sent[8].dataOut[0x7FFF], 0x34);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(sent[i].exec.SRB_Target, 6) << "command " << i;
        EXPECT_EQ(sent[i].exec.SRB_Lun, 0) << "command " << i;
        EXPECT_EQ(arrivals[i].bar, BarDuringCommand[i]) << "command " << i;
    }
    EXPECT_EQ(WriteForm->WriteProgressBar.Position(), 100);
    EXPECT_EQ(WriteForm->ModalResult(), ModalResultOk);
    EXPECT_FALSE(WriteForm->WorkerRunning());
    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_EQ(RecordedProcessEnds(), 0);
}

TEST_F(WriteSequenceTest, EachDriveStartsAgainFromOffsetZeroWithTheSameImage) {
    AnswerLikeADrive();
    RunWorker();
    WriteForm->Target = 1;
    arrivals.clear();
    RunWorker();
    const auto sent = aspi.ExecSubmissions();
    ASSERT_EQ(sent.size(), 20u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(sent[10 + i].exec.SRB_Target, 1);
        EXPECT_EQ(std::memcmp(sent[10 + i].exec.CDBByte, sent[i].exec.CDBByte, 12), 0);
        EXPECT_EQ(sent[10 + i].dataOut, sent[i].dataOut);
    }
    EXPECT_EQ(arrivals[1].writeOffset, 0u);
}

// A failed command ends the process inside its step, after its one message: nothing later is
// sent, the bar stays where that step put it and the window is not closed.
TEST_F(WriteSequenceTest, AFailureInAnyStepStopsEverythingAfterIt) {
    struct Fault {
        const char *name;
        FakeAspiManager::ExecAnswer answer;
        const char *message;
    };
    FakeAspiManager::ExecAnswer aborted;
    aborted.status = SS_ABORTED;
    FakeAspiManager::ExecAnswer selection;
    selection.haStat = HASTAT_SEL_TO;
    FakeAspiManager::ExecAnswer busy;
    busy.targStat = 0x08;
    const Fault faults[] = {
        {"vendor sense", FakeAspiManager::CheckCondition(0x09, 0x85, 0x00),
         "Flash rom write error. (Code 09-85-00)"},
        {"target busy", busy, "Target_Status: BUSY"},
        {"ASPI status", aborted, "SRB aborted."},
        {"adapter status", selection, "HA_Status: Selection Timeout."},
    };
    for (const Fault &fault : faults) {
        for (int failAt = 0; failAt < 10; ++failAt) {
            SCOPED_TRACE(std::string(fault.name) + ", command " + std::to_string(failAt));
            SetUp();
            arrivals.clear();
            AnswerLikeADrive(failAt, fault.answer);
            const size_t before = aspi.ExecSubmissions().size();
            RunWorker();
            EXPECT_EQ(aspi.ExecSubmissions().size() - before, size_t(failAt + 1));
            EXPECT_EQ(WriteForm->WriteProgressBar.Position(), BarDuringCommand[failAt]);
            EXPECT_EQ(WriteForm->ModalResult(), ModalResultNone);
            EXPECT_EQ(RecordedProcessEnds(), 1);
            EXPECT_EQ(RecordedMessages(), std::vector<ShownMessage>{ErrorBoxWith(fault.message)});
        }
    }
}

TEST_F(WriteSequenceTest, EitherChecksumByteWrongIsADataCheckError) {
    const std::vector<BYTE> answers[] = {{0x13, 0x34}, {0x12, 0x35}, {0x34, 0x12}};
    for (const auto &checksum : answers) {
        SCOPED_TRACE(testing::PrintToString(checksum));
        SetUp();
        arrivals.clear();
        AnswerLikeADrive(-1, {}, checksum);
        RunWorker();
        EXPECT_EQ(RecordedMessages(),
                  std::vector<ShownMessage>{FatalErrorBoxWith("Firmware data check error.")});
        EXPECT_EQ(RecordedProcessEnds(), 1);
        EXPECT_EQ(WriteForm->WriteProgressBar.Position(), 95);
        EXPECT_EQ(WriteForm->ModalResult(), ModalResultNone);
    }
}

} // namespace
