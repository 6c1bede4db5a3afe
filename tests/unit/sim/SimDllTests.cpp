// The built wnaspi32.dll as the program meets it: the update sequence, asynchronous completion,
// the commands that complete at once, refused blocks and the evidence it leaves.
#include "SimDll.h"
#include "TestFiles.h"

#include "tools/firmware/SampleFirmware.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

constexpr BYTE FlagsNone = SRB_EVENT_NOTIFY;
constexpr BYTE FlagsIn = SRB_EVENT_NOTIFY | SRB_DIR_IN;
constexpr BYTE FlagsOut = SRB_EVENT_NOTIFY | SRB_DIR_OUT;

class SimDllTest : public ::testing::Test {
  protected:
    void Load(const std::string &scenario) {
        dll_.reset(); // the next load must read its own scenario
        dll_.reset(new TSimDll(folder_.Path(), scenario));
        ASSERT_TRUE(dll_->Loaded()) << SimDllPath;
    }
    void TearDown() override { dll_.reset(); }

    // Erase, then chunks 0 .. count-1 of `image`; every request must succeed.
    void WriteChunks(const std::vector<uint8_t> &image, int count) {
        TExecRequest erase(1, FlagsNone, EraseCdb);
        ASSERT_EQ(erase.Run(*dll_), SS_PENDING);
        ASSERT_EQ(erase.Status(), SS_COMP);
        for (int k = 0; k < count; ++k) {
            std::vector<uint8_t> chunk(image.begin() + k * 0x8000, image.begin() + (k + 1) * 0x8000);
            TExecRequest write(1, FlagsOut, UpdateChunkCdb(k), chunk.data(), 0x8000);
            ASSERT_EQ(write.Run(*dll_), SS_PENDING);
            ASSERT_EQ(write.Status(), SS_COMP) << "chunk " << k;
            ASSERT_EQ(write.srb.SRB_TargStat, 0) << "chunk " << k;
        }
    }

    TScratchFolder folder_;
    std::unique_ptr<TSimDll> dll_;
};

TEST_F(SimDllTest, UpdateProgramsTheFlashAndTheChecksumMatchesTheImage) {
    Load("[device 0 1]\nflash = flash.bin\n");
    std::vector<uint8_t> image = MakeSampleFirmware(5, "1.20");
    WriteChunks(image, 8);

    BYTE answer[8];
    std::memset(answer, 0xAA, sizeof answer);
    TExecRequest checksum(1, FlagsIn, ChecksumCdb, answer, 2);
    ASSERT_EQ(checksum.Run(*dll_), SS_PENDING);
    EXPECT_EQ(checksum.Status(), SS_COMP);
    EXPECT_EQ(answer[0], image[0x3FFFE]);
    EXPECT_EQ(answer[1], image[0x3FFFF]);
    EXPECT_EQ(answer[2], 0xAA) << "only the two checksum bytes are written";
    EXPECT_EQ(ReadBytes(folder_.File("flash.bin")), image);

    std::vector<TraceRecord> trace = dll_->Trace();
    std::vector<TraceRecord> requests = OfKind(trace, "req");
    ASSERT_EQ(requests.size(), 10u);
    for (int k = 0; k < 8; ++k) {
        const TraceRecord &write = requests[1 + k];
        EXPECT_EQ(write.Bytes("cdb"), UpdateChunkCdb(k));
        EXPECT_EQ(write.Text("digest"), DigestText(Fnv1a64(&image[k * 0x8000], 0x8000)));
        EXPECT_EQ(DoneOf(trace, write.Number("seq")).Number("status"), SS_COMP);
    }
    const TraceRecord &last = requests[9];
    EXPECT_EQ(last.Number("cmd"), SC_EXEC_SCSI_CMD);
    EXPECT_EQ(last.Number("ha"), 0u);
    EXPECT_EQ(last.Number("target"), 1u);
    EXPECT_EQ(last.Number("lun"), 0u);
    EXPECT_EQ(last.Number("flags"), 0x48u);
    EXPECT_EQ(last.Number("buflen"), 2u);
    EXPECT_EQ(last.Number("senselen"), 16u);
    EXPECT_EQ(last.Number("cdblen"), 12u);
    EXPECT_EQ(last.Number("event"), 1u);
    EXPECT_EQ(last.Number("ret"), SS_PENDING);
    EXPECT_FALSE(last.Has("digest")) << "data in carries no digest";
    EXPECT_EQ(DoneOf(trace, last.Number("seq")).Number("xfer"), 2u);
}

TEST_F(SimDllTest, PartialWriteLeavesTheWrittenChunksAndErasedRest) {
    Load("[device 0 1]\n");
    std::vector<uint8_t> image = MakeSampleFirmware(9, "2.00");
    WriteChunks(image, 3);
    std::vector<uint8_t> flash = ReadBytes(folder_.File("flash-0-1.bin"));
    ASSERT_EQ(flash.size(), 0x40000u);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x18000, image.begin()));
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x18000, flash.end()),
              std::vector<uint8_t>(0x40000 - 0x18000, 0xFF));
}

volatile BYTE StatusSeenAtPost = 0xFF;
DWORD PostThread = 0;
HANDLE Posted = nullptr;

void __cdecl OnPosted(void *srb) {
    StatusSeenAtPost = static_cast<SRB_ExecSCSICmd *>(srb)->SRB_Status;
    PostThread = GetCurrentThreadId();
    SetEvent(Posted);
}

TEST_F(SimDllTest, ExecuteIsPendingUntilTheManagersThreadCompletesIt) {
    Load("[device 0 1]\nlatency_erase = 300\nlatency_tur = 300\n");
    TExecRequest erase(1, FlagsNone, EraseCdb);
    ASSERT_EQ(dll_->Send(&erase.srb), SS_PENDING);
    EXPECT_EQ(erase.Status(), SS_PENDING);
    EXPECT_FALSE(erase.Signalled(100)) << "completion waits for the latency";
    EXPECT_EQ(erase.Status(), SS_PENDING);
    ASSERT_TRUE(erase.Signalled(5000));
    EXPECT_EQ(erase.Status(), SS_COMP) << "the status is final when the event is set";

    // With SRB_POSTING the routine runs on the manager's thread, after the status is final.
    Posted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    TExecRequest ready(1, SRB_POSTING, TestUnitReadyCdb);
    ready.srb.SRB_PostProc = reinterpret_cast<void *>(&OnPosted);
    ASSERT_EQ(dll_->Send(&ready.srb), SS_PENDING);
    ASSERT_EQ(WaitForSingleObject(Posted, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(StatusSeenAtPost, SS_COMP);
    EXPECT_NE(PostThread, GetCurrentThreadId());
    CloseHandle(Posted);
}

TEST_F(SimDllTest, RequestsCompleteInTheOrderTheyWereSent) {
    Load("adapters = 2\n[device 0 1]\nlatency_erase = 400\n[device 1 2]\nkind = disk\n");
    TExecRequest slow(1, FlagsNone, EraseCdb);
    TExecRequest quick(2, FlagsNone, TestUnitReadyCdb);
    quick.srb.SRB_HaId = 1;
    ASSERT_EQ(dll_->Send(&slow.srb), SS_PENDING);
    ASSERT_EQ(dll_->Send(&quick.srb), SS_PENDING);
    ASSERT_TRUE(quick.Signalled(5000));
    EXPECT_EQ(slow.Status(), SS_COMP) << "the earlier request was completed first";
    std::vector<TraceRecord> done = OfKind(dll_->Trace(), "done");
    ASSERT_EQ(done.size(), 2u);
    EXPECT_LT(done[0].Number("seq"), done[1].Number("seq"));
}

// A transfer above the adapter's limit (published in HA_Unique, read by the fault matrix) is
// refused.
TEST_F(SimDllTest, AdapterInquiryAndDeviceTypeCompleteAtOnce) {
    Load("adapters = 2\nanswering = 0\nmax_transfer = 0x4000\n[device 0 1]\n[device 0 3]\n"
         "kind = disk\n");
    EXPECT_EQ(dll_->SupportInfo(), 0x0102u);

    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(dll_->Send(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(inquiry.HA_ManagerId), 14), "ASPI for WIN32");
    static BYTE overLimit[0x4001];
    TExecRequest tooBig(1, FlagsIn, Inquiry36Cdb, overLimit, sizeof overLimit);
    EXPECT_EQ(dll_->Send(&tooBig.srb), SS_BUFFER_TO_BIG);
    inquiry = SRB_HAInquiry{};
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(dll_->Send(&inquiry), SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, SS_INVALID_HA);

    struct Case {
        BYTE adapter, target, lun;
        DWORD status;
        BYTE type;
    };
    const Case cases[] = {
        {0, 1, 0, SS_COMP, DTYPE_CDROM},      {0, 3, 0, SS_COMP, DTYPE_DASD},
        {0, 2, 0, SS_NO_DEVICE, DTYPE_UNKNOWN}, {0, 1, 1, SS_NO_DEVICE, DTYPE_UNKNOWN},
        {0, 8, 0, SS_INVALID_SRB, 0},         {1, 1, 0, SS_INVALID_HA, 0},
    };
    for (const Case &c : cases) {
        SRB_GDEVBlock type{};
        type.SRB_Cmd = SC_GET_DEV_TYPE;
        type.SRB_HaId = c.adapter;
        type.SRB_Target = c.target;
        type.SRB_Lun = c.lun;
        EXPECT_EQ(dll_->Send(&type), c.status) << int(c.adapter) << ":" << int(c.target);
        EXPECT_EQ(type.SRB_Status, c.status);
        EXPECT_EQ(type.SRB_DeviceType, c.type) << int(c.adapter) << ":" << int(c.target);
    }
}

TEST_F(SimDllTest, InvalidBlocksAreRefusedWithoutAnEvent) {
    Load("adapters = 2\nanswering = 0\n[device 0 1]\n");
    BYTE buffer[64] = {};
    static BYTE big[0x10001];
    struct Case {
        const char *reason;
        DWORD status;
        BYTE flags;
        Cdb cdb;
        BYTE *buffer;
        DWORD length;
        void (*change)(SRB_ExecSCSICmd &);
    };
    auto none = [](SRB_ExecSCSICmd &) {};
    const Case cases[] = {
        {"notify", SS_INVALID_SRB, 0x00, TestUnitReadyCdb, nullptr, 0, none},
        {"notify", SS_INVALID_SRB, SRB_EVENT_NOTIFY | SRB_POSTING, TestUnitReadyCdb, nullptr, 0,
         none},
        {"notify", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_PostProc = nullptr; }},
        {"direction", SS_INVALID_SRB, FlagsNone, Inquiry36Cdb, buffer, 36, none},
        {"direction", SS_INVALID_SRB, FlagsOut, Inquiry36Cdb, buffer, 36, none},
        {"direction", SS_INVALID_SRB, FlagsIn, EraseCdb, buffer, 0, none},
        {"direction", SS_INVALID_SRB, FlagsIn, UpdateChunkCdb(0), buffer, 64, none},
        {"direction", SS_INVALID_SRB, FlagsIn | SRB_DIR_OUT, {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         buffer, 64, none},
        {"lun", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_Lun = 1; }},
        {"target", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_Target = 8; }},
        {"cdblen", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_CDBLen = 7; }},
        {"buflen", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, buffer, 4, none},
        {"buflen", SS_INVALID_SRB, FlagsIn, Inquiry36Cdb, nullptr, 36, none},
        {"toobig", SS_BUFFER_TO_BIG, FlagsIn, Inquiry36Cdb, big, sizeof big, none},
        {"ha", SS_INVALID_HA, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_HaId = 1; }},
        {"cmd", SS_INVALID_SRB, FlagsNone, TestUnitReadyCdb, nullptr, 0,
         [](SRB_ExecSCSICmd &s) { s.SRB_Cmd = SC_ABORT_SRB; }},
    };
    for (const Case &c : cases) {
        TExecRequest request(1, c.flags, c.cdb, c.buffer, c.length);
        c.change(request.srb);
        EXPECT_EQ(dll_->Send(&request.srb), c.status) << c.reason;
        EXPECT_EQ(request.Status(), c.status) << c.reason;
        EXPECT_FALSE(request.Signalled(0)) << c.reason;
        EXPECT_EQ(OfKind(dll_->Trace(), "req").back().Text("refused"), c.reason);
    }
    EXPECT_EQ(dll_->Send(nullptr), SS_INVALID_SRB);
    Sleep(50);
    EXPECT_TRUE(OfKind(dll_->Trace(), "done").empty()) << "no refused request was executed";
}

TEST_F(SimDllTest, CheckConditionCarriesTheLoadersSenseIntoTheSenseArea) {
    struct Case {
        const char *what;
        const char *scenario;
        BYTE senseLength;
        BYTE status;
    };
    const Case cases[] = {
        {"default", "[device 0 1]\n", 16, SS_ERR},
        {"all 18 bytes", "[device 0 1]\n", 18, SS_ERR},
        {"as SS_COMP", "check_condition_status = 0x01\n[device 0 1]\n", 4, SS_COMP},
    };
    for (const Case &c : cases) {
        Load(c.scenario);
        BYTE chunk[0x8000] = {};
        TExecRequest write(1, FlagsOut, UpdateChunkCdb(0), chunk, sizeof chunk);
        write.srb.SRB_SenseLen = c.senseLength;
        std::memset(write.srb.SenseArea, 0xCC, sizeof write.srb.SenseArea);
        ASSERT_EQ(write.Run(*dll_), SS_PENDING) << c.what;
        EXPECT_EQ(write.Status(), c.status) << c.what;
        EXPECT_EQ(write.srb.SRB_HaStat, HASTAT_OK) << c.what;
        EXPECT_EQ(write.srb.SRB_TargStat, 0x02) << c.what;
        EXPECT_EQ(write.srb.SenseArea[0], 0x70) << c.what;
        for (int i = c.senseLength; i < 18; ++i) {
            EXPECT_EQ(write.srb.SenseArea[i], 0xCC) << c.what << ": byte " << i;
        }
        if (c.senseLength >= 14) {
            EXPECT_EQ(write.Sense(), 0x098400u) << c.what << ": flash not erased";
        }
        dll_.reset();
    }
}

TEST_F(SimDllTest, ShortDataInBufferIsADataOverrun) {
    Load("[device 0 1]\n");
    BYTE identity[32];
    std::memset(identity, 0xAA, sizeof identity);
    TExecRequest request(1, FlagsIn, IdentityCdb, identity, 16);
    ASSERT_EQ(request.Run(*dll_), SS_PENDING);
    EXPECT_EQ(request.Status(), SS_ERR);
    EXPECT_EQ(request.srb.SRB_HaStat, HASTAT_DO_DU);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(identity), 16), "VANDREL ZD-M770B");
    EXPECT_EQ(identity[16], 0xAA);
}

TEST_F(SimDllTest, BrokenScenarioFailsInitialisation) {
    Load("adapters = 1\nadapter = 2\n");
    EXPECT_EQ(dll_->SupportInfo(), DWORD(SS_FAILED_INIT) << 8);
    TExecRequest request(1, FlagsNone, TestUnitReadyCdb);
    EXPECT_EQ(dll_->Send(&request.srb), SS_FAILED_INIT);
    std::vector<TraceRecord> errors = OfKind(dll_->Trace(), "error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].Text("text").find("line 2: unknown key \"adapter\""), std::string::npos)
        << errors[0].Text("text");
}

TEST_F(SimDllTest, APendingBlockBelongsToTheManager) {
    Load("[device 0 1]\n[fault]\nopcode = 0xE4\naction = hang\n"
         "[fault]\nopcode = 0xE3\naction = delay\ndelay = 300\n");
    BYTE answer[32];
    TExecRequest hung(1, FlagsIn, ChecksumCdb, answer, 2);
    ASSERT_EQ(dll_->Send(&hung.srb), SS_PENDING);
    EXPECT_EQ(dll_->Send(&hung.srb), SS_INVALID_SRB) << "sent again while pending";
    EXPECT_EQ(OfKind(dll_->Trace(), "req").back().Text("refused"), "busy");

    TExecRequest refilled(1, FlagsIn, IdentityCdb, answer, 32);
    ASSERT_EQ(dll_->Send(&refilled.srb), SS_PENDING);
    refilled.srb.CDBByte[9] = 0x10; // the program must not touch a pending block
    ASSERT_TRUE(refilled.Signalled(5000));
    std::vector<TraceRecord> done = OfKind(dll_->Trace(), "done");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Number("changed", 0), 1u);
}

} // namespace
