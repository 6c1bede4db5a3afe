// Carrying SC_EXEC_SCSI_CMD through the pass-through, and handing the outcome back.
#include "aspi/PassThrough.h"
#include "tests/unit/aspi/AspiTestSupport.h"

#include <atomic>
#include <cstring>
#include <string>
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

// A short transfer comes back as success or as the port's warning (ERROR_MORE_DATA, with the
// header, data and sense filled in); a warning with the buffer full is a data overrun.
TEST_F(ExecutionTest, DataInArrivesInTheClientBufferWithItsResidualCount) {
    struct Case {
        const char *what;
        DWORD error;
        size_t moved;
        BYTE status, haStat;
    } cases[] = {{"short", ERROR_SUCCESS, 7, SS_COMP, HASTAT_OK},
                 {"short, as a warning", ERROR_MORE_DATA, 7, SS_COMP, HASTAT_OK},
                 {"overrun", ERROR_MORE_DATA, 32, SS_ERR, HASTAT_DO_DU}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TFakeScsiPorts fake;
        fake.ports[0].buses = {{7, {CdRomUnit(3)}}, {7, {CdRomUnit(3)}}};
        fake.answer = [&c](const TPassThroughCall &) {
            TDeviceAnswer a;
            a.error = c.error;
            a.dataIn.assign(c.moved, 'V');
            return a;
        };
        TAspiManager manager(fake);
        BYTE buffer[36];
        std::memset(buffer, 0xEE, sizeof buffer);
        TExecBlock block(1, 3, SRB_DIR_IN | SRB_EVENT_NOTIFY | SRB_ENABLE_RESIDUAL_COUNT,
                         {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0}, buffer, 32);
        ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
        EXPECT_EQ(c.status, block.srb.SRB_Status);
        EXPECT_EQ(c.haStat, block.srb.SRB_HaStat);
        EXPECT_EQ('V', buffer[c.moved - 1]);
        EXPECT_EQ(0xEE, buffer[c.moved]) << "bytes not transferred stay as they were";
        EXPECT_EQ(32u - c.moved, block.srb.SRB_BufLen) << "residual: 32 asked";
    }
    TAspiManager manager(ports);
    BYTE buffer[32];
    TExecBlock block(1, 3, SRB_DIR_IN | SRB_EVENT_NOTIFY,
                     {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0}, buffer, 32);
    ASSERT_EQ(SS_PENDING, block.SendAndWait(manager));
    ASSERT_EQ(1u, ports.Calls().size());
    const SCSI_PASS_THROUGH &sent = ports.Calls()[0].header;
    EXPECT_EQ(1, sent.PathId);
    EXPECT_EQ(3, sent.TargetId);
    EXPECT_EQ(SCSI_IOCTL_DATA_IN, sent.DataIn);
    EXPECT_EQ(32u, sent.DataTransferLength);
    EXPECT_EQ(12, sent.CdbLength);
    EXPECT_EQ(0, std::memcmp(sent.Cdb, block.srb.CDBByte, 12));
    EXPECT_EQ(16, sent.SenseInfoLength);
    // Below the 60 s after which the updater gives up and ends, with room for the queue: a hung
    // command comes back as the port's time-out. Long enough for the loader's erase.
    EXPECT_LT(sent.TimeOutValue, 55u);
    EXPECT_GE(sent.TimeOutValue, 30u);
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
        {ERROR_ACCESS_DENIED, SS_SECURITY_VIOLATION, HASTAT_OK},
        {ERROR_INVALID_FUNCTION, SS_INVALID_SRB, HASTAT_OK},
        {ERROR_NOT_READY, SS_ERR, HASTAT_TIMEOUT},
        {ERROR_BUSY, SS_ASPI_IS_BUSY, HASTAT_OK},
        {ERROR_IO_DEVICE, SS_ERR, HASTAT_PHASE_ERR},
        {ERROR_MEDIA_CHANGED, SS_ABORTED, HASTAT_OK},
        {ERROR_GEN_FAILURE, SS_ERR, HASTAT_OK}, // no adapter status says more
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

// From the first command that may change a unit its class driver owns, nothing but our manager
// reaches it: before the erase the manager disables media-change detection on a handle of
// FILE_READ_ATTRIBUTES, then locks, dismounts and takes exclusive access through the command
// handle. What Windows refuses does not stop the write. Reads never lock a unit, and a unit
// without a class driver needs nothing.
TEST(UnitIsolation, NothingElseReachesAUnitFromItsFirstChange) {
    const std::string alone = "2D0944 0|90018 0|90020 0|2C05C 0|";
    struct Case {
        const char *what;
        TClassDriverModel::TWindows windows;
        bool claimed, otherOpen;
        std::string controls; // "CdRom0 code error", joined
    } cases[] = {
        {"Vista and later", TClassDriverModel::TWindows::Vista, true, false, alone},
        {"XP: no exclusive access", TClassDriverModel::TWindows::Xp, true, false,
         "2D0944 0|90018 0|90020 0|2C05C 1|"},
        {"another program holds the volume open", TClassDriverModel::TWindows::Vista, true, true,
         "2D0944 0|90018 5|90020 0|2C05C 0|"},
        {"no class driver", TClassDriverModel::TWindows::Vista, false, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TFakeScsiPorts ports;
        ports.windows = c.windows;
        ports.ports[0].buses = {{7, {CdRomUnit(3, c.claimed)}}};
        if (c.claimed)
            ports.cdRoms[0] = Address(0, 0, 3);
        TAspiManager manager(ports);
        HANDLE other = INVALID_HANDLE_VALUE;
        if (c.otherOpen)
            ports.OpenDevice("\\\\.\\CdRom0", TDeviceBackEnd::kReadWrite, &other);
        BYTE data[0x8000] = {};
        TExecBlock identity(0, 3, SRB_DIR_IN | SRB_EVENT_NOTIFY,
                            {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0}, data, 32);
        ASSERT_EQ(SS_PENDING, identity.SendAndWait(manager));
        EXPECT_TRUE(ports.Controls().empty()) << "a read locked the unit";
        const size_t foreignBefore = ports.Foreign().size();
        TExecBlock erase(0, 3, SRB_EVENT_NOTIFY, {0xE1, 4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        TExecBlock chunk(0, 3, SRB_DIR_OUT | SRB_EVENT_NOTIFY,
                         {0xE2, 1, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0}, data, 0x8000);
        TExecBlock checksum(0, 3, SRB_DIR_IN | SRB_EVENT_NOTIFY,
                            {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, 2);
        for (TExecBlock *block : {&erase, &chunk, &checksum}) {
            ASSERT_EQ(SS_PENDING, block->SendAndWait(manager));
            EXPECT_EQ(SS_COMP, block->srb.SRB_Status) << "the write did not go on";
        }
        std::string controls;
        for (const std::string &control : ports.Controls())
            controls += control.substr(control.find(' ') + 1) + "|";
        EXPECT_EQ(c.controls, controls);
        EXPECT_EQ(4u, ports.Calls().size());
        if (c.claimed) {
            EXPECT_GT(foreignBefore, 0u) << "the class driver never polled the unit";
            EXPECT_EQ(foreignBefore, ports.Foreign().size()) << ports.Foreign().back();
        }
        if (other != INVALID_HANDLE_VALUE)
            ports.CloseDevice(other);
    }
}
