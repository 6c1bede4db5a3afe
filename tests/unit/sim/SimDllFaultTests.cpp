// Faults on demand, as the scenario orders them.
#include "SimDll.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

constexpr BYTE FlagsNone = SRB_EVENT_NOTIFY;
constexpr BYTE FlagsIn = SRB_EVENT_NOTIFY | SRB_DIR_IN;
constexpr BYTE FlagsOut = SRB_EVENT_NOTIFY | SRB_DIR_OUT;

struct Outcome {
    BYTE status, hastat, targstat;
    uint32_t sense;
};

class SimDllFaultTest : public ::testing::Test {
  protected:
    void Load(const std::string &scenario) {
        dll_.reset(new TSimDll(folder_.Path(), scenario));
        ASSERT_TRUE(dll_->Loaded()) << SimDllPath;
    }
    void TearDown() override { dll_.reset(); }

    Outcome Run(TExecRequest &request) {
        EXPECT_EQ(request.Run(*dll_), SS_PENDING);
        return {request.Status(), request.srb.SRB_HaStat, request.srb.SRB_TargStat,
                request.Sense()};
    }
    Outcome Erase() {
        TExecRequest erase(1, FlagsNone, EraseCdb);
        return Run(erase);
    }
    Outcome WriteChunk(int k) {
        std::vector<uint8_t> chunk(0x8000, static_cast<uint8_t>(0x10 + k));
        TExecRequest write(1, FlagsOut, UpdateChunkCdb(k), chunk.data(), 0x8000);
        return Run(write);
    }

    TScratchFolder folder_;
    std::unique_ptr<TSimDll> dll_;
};

void ExpectOutcome(const Outcome &got, const Outcome &want, const char *what) {
    EXPECT_EQ(got.status, want.status) << what;
    EXPECT_EQ(got.hastat, want.hastat) << what;
    EXPECT_EQ(got.targstat, want.targstat) << what;
    EXPECT_EQ(got.sense, want.sense) << what;
}

TEST_F(SimDllFaultTest, NthRequestOfAnOpcodeGetsTheChosenStatusAndNeverReachesTheDrive) {
    Load("[device 0 1]\nflash = flash.bin\n"
         "[fault]\nopcode = 0xE2\nnth = 2\nstatus = 0x04\ntargstat = 0x02\n"
         "sense_key = 9\nasc = 0x85\n");
    ExpectOutcome(Erase(), {SS_COMP, 0, 0, 0}, "erase is not counted");
    ExpectOutcome(WriteChunk(0), {SS_COMP, 0, 0, 0}, "first chunk");
    ExpectOutcome(WriteChunk(1), {SS_ERR, 0, 2, 0x098500}, "second chunk");
    ExpectOutcome(WriteChunk(1), {SS_COMP, 0, 0, 0}, "only the 2nd is hit; the drive waits for it");
    std::vector<uint8_t> flash = ReadBytes(folder_.File("flash.bin"));
    EXPECT_EQ(flash[0x8000], 0x11) << "the retried chunk landed";
    EXPECT_EQ(flash[0x10000], 0xFF);
    std::vector<TraceRecord> requests = OfKind(dll_->Trace(), "req");
    EXPECT_EQ(requests[2].Text("fault"), "answer");
    EXPECT_FALSE(requests[3].Has("fault"));
}

TEST_F(SimDllFaultTest, DriveThatDisappearsAnswersSelectionTimeoutFromThenOn) {
    Load("[device 0 1]\n[fault]\naction = disappear\nnth = 3\n");
    ExpectOutcome(Erase(), {SS_COMP, 0, 0, 0}, "request 1");
    ExpectOutcome(WriteChunk(0), {SS_COMP, 0, 0, 0}, "request 2");
    ExpectOutcome(WriteChunk(1), {SS_ERR, HASTAT_SEL_TO, 0, 0}, "request 3");
    ExpectOutcome(Erase(), {SS_ERR, HASTAT_SEL_TO, 0, 0}, "request 4");
    TExecRequest ready(1, FlagsNone, TestUnitReadyCdb);
    ExpectOutcome(Run(ready), {SS_ERR, HASTAT_SEL_TO, 0, 0}, "request 5");
}

// How long the request took by the manager's own clock (its trace), whatever the test's thread
// was doing meanwhile.
TEST_F(SimDllFaultTest, DelayedCompletionComesAfterMoreThanASecond) {
    Load("[device 0 1]\n[fault]\nopcode = 0xE1\naction = delay\ndelay = 1300\n");
    TExecRequest erase(1, FlagsNone, EraseCdb);
    ASSERT_EQ(dll_->Send(&erase.srb), SS_PENDING);
    ASSERT_TRUE(erase.Signalled(5000));
    EXPECT_EQ(erase.Status(), SS_COMP);
    const std::vector<TraceRecord> trace = dll_->Trace();
    const TraceRecord sent = OfKind(trace, "req")[0];
    EXPECT_GE(DoneOf(trace, sent.Number("seq")).Number("t") - sent.Number("t"), 1300u);
    ExpectOutcome(WriteChunk(0), {SS_COMP, 0, 0, 0}, "the delayed erase was executed");
}

// A held request completes only once the event named after the process and its seq is set;
// then the drive runs it.
TEST_F(SimDllFaultTest, HeldRequestRunsOnceLetGo) {
    Load("[device 0 1]\n[fault]\nopcode = 0xE1\naction = hold\n");
    TExecRequest erase(1, FlagsNone, EraseCdb);
    ASSERT_EQ(dll_->Send(&erase.srb), SS_PENDING);
    EXPECT_FALSE(erase.Signalled(300)) << "a held request completed by itself";
    const TraceRecord held = OfKind(dll_->Trace(), "req")[0];
    EXPECT_EQ(held.Text("fault"), "hold");
    const std::string name = HeldRequestEventName(GetCurrentProcessId(), held.Number("seq"));
    HANDLE release = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    ASSERT_NE(release, nullptr) << name;
    SetEvent(release);
    CloseHandle(release);
    ASSERT_TRUE(erase.Signalled(5000));
    EXPECT_EQ(erase.Status(), SS_COMP);
    ExpectOutcome(WriteChunk(0), {SS_COMP, 0, 0, 0}, "the held erase was executed");
}

TEST_F(SimDllFaultTest, HungRequestNeverCompletesAndLaterOnesAreServed) {
    Load("[device 0 1]\n[fault]\nopcode = 0xE4\naction = hang\n");
    BYTE answer[2] = {0xAA, 0xAA};
    TExecRequest checksum(1, FlagsIn, ChecksumCdb, answer, 2);
    ASSERT_EQ(dll_->Send(&checksum.srb), SS_PENDING);
    EXPECT_FALSE(checksum.Signalled(500));
    TExecRequest ready(1, FlagsNone, TestUnitReadyCdb);
    ExpectOutcome(Run(ready), {SS_COMP, 0, 0, 0}, "after the hung request");
    EXPECT_EQ(checksum.Status(), SS_PENDING);
    EXPECT_EQ(answer[0], 0xAA);
    std::vector<TraceRecord> trace = dll_->Trace();
    EXPECT_EQ(OfKind(trace, "req")[0].Text("fault"), "hang");
    EXPECT_EQ(DoneOf(trace, OfKind(trace, "req")[0].Number("seq")).kind, "");
}

TEST_F(SimDllFaultTest, DataOverrideChangesOnlyTheChosenByteOfTheAnswer) {
    Load("[device 0 1]\n[fault]\nopcode = 0xE4\nnth = 2\naction = data\ndata_offset = 1\n"
         "data = 5A 77\n");
    Erase();
    BYTE first[4], second[4];
    std::memset(first, 0xAA, sizeof first);
    std::memset(second, 0xAA, sizeof second);
    TExecRequest honest(1, FlagsIn, ChecksumCdb, first, 2);
    TExecRequest bent(1, FlagsIn, ChecksumCdb, second, 2);
    ExpectOutcome(Run(honest), {SS_COMP, 0, 0, 0}, "first checksum");
    ExpectOutcome(Run(bent), {SS_COMP, 0, 0, 0}, "second checksum");
    EXPECT_EQ(first[0], 0xFE);
    EXPECT_EQ(first[1], 0x02);
    EXPECT_EQ(second[0], 0xFE);
    EXPECT_EQ(second[1], 0x5A);
    EXPECT_EQ(second[2], 0xAA) << "the override stays within the bytes transferred";
}

TEST_F(SimDllFaultTest, RulesFilterByAdapterAndTarget) {
    Load("adapters = 2\n[device 0 1]\n[device 1 1]\n"
         "[fault]\nadapter = 1\ntarget = 1\nstatus = 0x02\n");
    ExpectOutcome(Erase(), {SS_COMP, 0, 0, 0}, "adapter 0 is not filtered in");
    TExecRequest erase(1, FlagsNone, EraseCdb);
    erase.srb.SRB_HaId = 1;
    ExpectOutcome(Run(erase), {SS_ABORTED, 0, 0, 0}, "adapter 1, target 1");
}

} // namespace
