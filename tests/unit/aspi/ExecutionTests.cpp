// Carrying SC_EXEC_SCSI_CMD through the pass-through, and handing the outcome back.
#include "aspi/PassThrough.h"
#include "tests/unit/aspi/AspiTestSupport.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

class ExecutionTest : public testing::Test {
  protected:
    ExecutionTest() { ports.ports[0].buses = {{7, {CdRomUnit(3)}}, {7, {CdRomUnit(3)}}}; }
    TFakeScsiPorts ports;
};

std::vector<BYTE> Sense(BYTE key, BYTE asc, size_t length = 18) {
    std::vector<BYTE> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    for (size_t i = 14; i < sense.size(); ++i)
        sense[i] = BYTE(0xA0 + i); // recognisable tail
    sense.resize(length);
    return sense;
}

TEST_F(ExecutionTest, DataInArrivesInTheClientBufferWithItsResidualCount) {
    ports.answer = [](const TPassThroughCall &) {
        TDeviceAnswer a;
        a.dataIn = {'V', 'A', 'N', 'D', 'R', 'E', 'L'};
        return a;
    };
    TAspiManager manager(ports);
    BYTE buffer[36];
    std::memset(buffer, 0xEE, sizeof buffer);
    TExecBlock block(1, 3, SRB_DIR_IN | SRB_EVENT_NOTIFY | SRB_ENABLE_RESIDUAL_COUNT,
                     {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0}, buffer, 32);
    ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
    EXPECT_EQ(SS_COMP, block.srb.SRB_Status);
    EXPECT_EQ(0, std::memcmp(buffer, "VANDREL", 7));
    EXPECT_EQ(0xEE, buffer[7]) << "bytes not transferred stay as they were";
    EXPECT_EQ(25u, block.srb.SRB_BufLen) << "residual: 32 asked, 7 returned";

    ASSERT_EQ(1u, ports.Calls().size());
    const SCSI_PASS_THROUGH &sent = ports.Calls()[0].header;
    EXPECT_EQ(1, sent.PathId);
    EXPECT_EQ(3, sent.TargetId);
    EXPECT_EQ(SCSI_IOCTL_DATA_IN, sent.DataIn);
    EXPECT_EQ(32u, sent.DataTransferLength);
    EXPECT_EQ(12, sent.CdbLength);
    EXPECT_EQ(0, std::memcmp(sent.Cdb, block.srb.CDBByte, 12));
    EXPECT_EQ(16, sent.SenseInfoLength);
    // Longer than the 60 s after which the updater gives up on a request, so the drive's
    // own slowness is never reported by us as a timeout first.
    EXPECT_GT(sent.TimeOutValue, 60u);
}

TEST_F(ExecutionTest, DataOutReachesTheDeviceUnchangedAndNoDataMeansNoDirection) {
    TAspiManager manager(ports);
    std::vector<BYTE> chunk(0x8000);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = BYTE(i * 7 + (i >> 8));
    TExecBlock write(0, 3, SRB_DIR_OUT | SRB_EVENT_NOTIFY,
                     {0xE2, 1, 0, 0x01, 0x80, 0x00, 0, 0, 0x80, 0, 0, 0}, chunk.data(),
                     DWORD(chunk.size()));
    ASSERT_EQ(SS_PENDING, write.SendAndWait(manager));
    TExecBlock erase(0, 3, SRB_EVENT_NOTIFY, {0xE1, 4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(SS_PENDING, erase.SendAndWait(manager));

    const auto calls = ports.Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(SCSI_IOCTL_DATA_OUT, calls[0].header.DataIn);
    EXPECT_EQ(chunk, calls[0].dataOut);
    EXPECT_EQ(SCSI_IOCTL_DATA_UNSPECIFIED, calls[1].header.DataIn);
    EXPECT_EQ(0u, calls[1].header.DataTransferLength);
    EXPECT_EQ(SS_COMP, erase.srb.SRB_Status);
}

TEST_F(ExecutionTest, ScsiStatusAndSenseBecomeAspiStatus) {
    struct Case {
        const char *what;
        BYTE scsiStatus;
        std::vector<BYTE> sense;
        BYTE senseLen; // what the block asks for
        BYTE status;
        size_t senseCopied;
    } cases[] = {
        {"good", 0x00, {}, 16, SS_COMP, 0},
        {"check condition, vendor sense", 0x02, Sense(0x09, 0x85), 16, SS_ERR, 16},
        {"check condition, short sense", 0x02, Sense(0x05, 0x24, 8), 16, SS_ERR, 8},
        {"check condition, fewer asked", 0x02, Sense(0x09, 0x84), 4, SS_ERR, 4},
        {"busy", 0x08, Sense(0x09, 0x85), 16, SS_ERR, 0},
        {"reservation conflict", 0x18, {}, 16, SS_ERR, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TFakeScsiPorts fake;
        fake.ports[0].buses = {{7, {CdRomUnit(3)}}};
        fake.answer = [&c](const TPassThroughCall &) {
            TDeviceAnswer a;
            a.scsiStatus = c.scsiStatus;
            a.sense = c.sense;
            return a;
        };
        TAspiManager manager(fake);
        TExecBlock block(0, 3, SRB_EVENT_NOTIFY, {0xE1, 4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        block.srb.SRB_SenseLen = c.senseLen;
        std::memset(block.srb.SenseArea, 0x5A, sizeof block.srb.SenseArea);
        ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
        EXPECT_EQ(c.status, block.srb.SRB_Status);
        EXPECT_EQ(HASTAT_OK, block.srb.SRB_HaStat);
        EXPECT_EQ(c.scsiStatus, block.srb.SRB_TargStat);
        EXPECT_EQ(c.senseLen, fake.Calls().at(0).header.SenseInfoLength);
        for (size_t i = 0; i < sizeof block.srb.SenseArea; ++i) {
            const BYTE expected = i < c.senseCopied ? c.sense[i] : 0x5A;
            EXPECT_EQ(expected, block.srb.SenseArea[i]) << "sense byte " << i;
        }
    }
}

TEST_F(ExecutionTest, AFailedPassThroughBecomesAdapterStatus) {
    struct Case {
        DWORD error;
        BYTE status;
        BYTE haStat;
    } cases[] = {
        {ERROR_SEM_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},
        {ERROR_DEVICE_NOT_CONNECTED, SS_ERR, HASTAT_SEL_TO},
        {ERROR_BUS_RESET, SS_ERR, HASTAT_BUS_RESET},
        {ERROR_MORE_DATA, SS_ERR, HASTAT_DO_DU},
        {ERROR_ACCESS_DENIED, SS_SECURITY_VIOLATION, HASTAT_OK},
        {ERROR_INVALID_FUNCTION, SS_INVALID_SRB, HASTAT_OK},
        {ERROR_IO_DEVICE, SS_ERR, HASTAT_OK}, // no adapter status says more
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        ports.answer = [&c](const TPassThroughCall &) {
            TDeviceAnswer a;
            a.error = c.error;
            a.scsiStatus = 0x02; // never read: the control failed
            return a;
        };
        TAspiManager manager(ports);
        TExecBlock block(0, 3, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
        ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
        EXPECT_EQ(c.status, block.srb.SRB_Status);
        EXPECT_EQ(c.haStat, block.srb.SRB_HaStat);
        EXPECT_EQ(0, block.srb.SRB_TargStat);
    }
}

TEST_F(ExecutionTest, StatusIsFinalBeforeTheEventOrThePostRoutine) {
    ports.answer = [](const TPassThroughCall &) {
        Sleep(20); // the client is already waiting
        TDeviceAnswer a;
        a.scsiStatus = 0x02;
        a.sense = Sense(0x09, 0x86);
        return a;
    };
    TAspiManager manager(ports);
    TExecBlock block(0, 3, SRB_EVENT_NOTIFY, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ports.WatchEvent(block.Event(), &block.srb);
    ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
    const auto signals = ports.Signals();
    ASSERT_EQ(1u, signals.size());
    EXPECT_EQ(SS_ERR, signals[0].status);
    EXPECT_EQ(0x02, signals[0].targStat);
    EXPECT_EQ(0x70, signals[0].sense0);

    // Posting: the routine gets the block with every field final.
    static std::atomic<int> posted;
    static SRB_ExecSCSICmd seen;
    posted = 0;
    struct Post {
        static void __cdecl Routine(SRB_ExecSCSICmd *srb) {
            seen = *srb;
            ++posted;
        }
    };
    TExecBlock post(1, 3, SRB_POSTING, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    post.srb.SRB_PostProc = reinterpret_cast<void *>(&Post::Routine);
    ASSERT_EQ(SS_PENDING, manager.SendCommand(&post.srb));
    for (int i = 0; i < 1000 && posted == 0; ++i)
        Sleep(10);
    ASSERT_EQ(1, posted.load());
    EXPECT_EQ(SS_ERR, seen.SRB_Status);
    EXPECT_EQ(0x86, seen.SenseArea[12]);
}

TEST_F(ExecutionTest, RequestsToOneAdapterNeverOverlapButAdaptersRunSideBySide) {
    HANDLE secondStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> sawSecond{false};
    ports.answer = [&](const TPassThroughCall &call) {
        if (call.header.PathId == 1) {
            SetEvent(secondStarted);
        } else if (call.header.Cdb[0] == 0xE1) {
            // Adapter 0 holds its request until adapter 1 has started one: with one thread
            // for both adapters this would wait in vain.
            sawSecond = WaitForSingleObject(secondStarted, 5000) == WAIT_OBJECT_0;
        } else {
            Sleep(1);
        }
        return TDeviceAnswer{};
    };
    TAspiManager manager(ports);

    TExecBlock hold(0, 3, SRB_EVENT_NOTIFY, {0xE1, 4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(SS_PENDING, manager.SendCommand(&hold.srb));
    TExecBlock other(1, 3, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
    ASSERT_EQ(SS_PENDING, other.SendAndWait(manager));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hold.Event(), 10000));
    EXPECT_TRUE(sawSecond);

    // Three client threads fire at adapter 0 at once.
    std::vector<std::thread> clients;
    std::atomic<int> completed{0};
    for (int t = 0; t < 3; ++t)
        clients.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                TExecBlock block(0, 3, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
                if (block.SendAndWait(manager) == SS_PENDING && block.srb.SRB_Status == SS_COMP)
                    ++completed;
            }
        });
    for (std::thread &client : clients)
        client.join();
    EXPECT_EQ(30, completed.load());
    EXPECT_EQ(1u, ports.MaxOverlap());
    CloseHandle(secondStarted);
}

TEST_F(ExecutionTest, OnlyARequestStillQueuedCanBeAborted) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ports.answer = [&](const TPassThroughCall &) {
        SetEvent(started);
        WaitForSingleObject(release, 10000);
        return TDeviceAnswer{};
    };
    TAspiManager manager(ports);
    TExecBlock running(0, 3, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
    TExecBlock waiting(0, 3, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
    ASSERT_EQ(SS_PENDING, manager.SendCommand(&running.srb));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 10000));
    ASSERT_EQ(SS_PENDING, manager.SendCommand(&waiting.srb));

    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &waiting.srb;
    EXPECT_EQ(SS_COMP, manager.SendCommand(&abort));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiting.Event(), 0));
    EXPECT_EQ(SS_ABORTED, waiting.srb.SRB_Status);
    abort.SRB_ToAbort = &running.srb;
    EXPECT_EQ(SS_ABORT_FAIL, manager.SendCommand(&abort));

    SetEvent(release);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(running.Event(), 10000));
    EXPECT_EQ(SS_COMP, running.srb.SRB_Status);
    EXPECT_EQ(1u, ports.Calls().size()) << "the aborted request never reached the device";
    CloseHandle(release);
    CloseHandle(started);
}

} // namespace
