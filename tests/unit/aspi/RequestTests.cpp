// The ASPI commands other than execution, and the checks a block passes before it is queued.
#include "tests/unit/aspi/AspiTestSupport.h"

#include <cstring>
#include <string>

namespace {

// The limit a client is told in HA_Unique bytes 4-7 and held to: the port's MaximumTransferLength
// and MaximumPhysicalPages pages (the data starts on a page boundary), never above 64 KiB; Wine
// answers 32 KiB in 8 pages.
TEST(HostAdapterInquiry, DescribesTheAdapterAndItsLimits) {
    struct Case {
        DWORD portMax, pages;
        BYTE highTarget;
        DWORD offered;
        BYTE targets;
    } cases[] = {{0x20000, 33, 3, 0x10000, 8}, {0x8000, 33, 9, 0x8000, 16},
                 {0, 33, 0, 0x10000, 8},       {0x20000, 9, 0, 0x9000, 8},
                 {0x20000, 5, 0, 0x5000, 8},   {0x20000, 0, 0, 0x10000, 8},
                 {0x8000, 8, 0, 0x8000, 8}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.portMax << " bytes, " << c.pages << " pages");
        TFakeScsiPorts ports;
        ports.ports[0].buses = {{7, {CdRomUnit(0)}}, {5, {CdRomUnit(c.highTarget)}}};
        ports.ports[0].maxTransfer = c.portMax;
        ports.ports[0].maxPages = c.pages;
        TAspiManager manager(ports);
        SRB_HAInquiry srb{};
        srb.SRB_Cmd = SC_HA_INQUIRY;
        srb.SRB_HaId = 1;
        ASSERT_EQ(SS_COMP, manager.SendCommand(&srb));
        EXPECT_EQ(SS_COMP, srb.SRB_Status);
        EXPECT_EQ(2, srb.HA_Count);
        EXPECT_EQ(5, srb.HA_SCSI_ID);
        EXPECT_EQ("M770B SPTI ASPI ",
                  std::string(reinterpret_cast<const char *>(srb.HA_ManagerId), 16));
        DWORD maxTransfer = 0;
        std::memcpy(&maxTransfer, &srb.HA_Unique[4], 4);
        EXPECT_EQ(c.offered, maxTransfer);
        EXPECT_EQ(c.targets, srb.HA_Unique[3]);
        EXPECT_EQ(0, srb.HA_Unique[0] | srb.HA_Unique[1]) << "no alignment needed";
        static BYTE buffer[0x10001];
        for (DWORD length : {c.offered, c.offered + 1}) {
            TExecBlock block(1, c.highTarget, SRB_DIR_IN | SRB_EVENT_NOTIFY, {0x12, 0, 0, 0, 36, 0},
                             buffer, length);
            const DWORD returned = block.SendAndWait(manager);
            EXPECT_EQ(length > c.offered ? DWORD(SS_BUFFER_TOO_BIG) : DWORD(SS_PENDING), returned);
            EXPECT_EQ(length > c.offered ? SS_BUFFER_TOO_BIG : SS_COMP, block.srb.SRB_Status);
        }
    }
}

TEST(DeviceTypeRequest, AnswersTheTypeOfPresentUnitsOnly) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7,
                             {CdRomUnit(2),
                              {3, 0, false, DTYPE_PROC},
                              {3, 1, false, 0x7F}, // qualifier 3: no unit at LUN 1
                              {4, 0, true, DTYPE_WORM}}}};
    TAspiManager manager(ports);
    struct Case {
        BYTE haId, target, lun;
        DWORD status;
        BYTE type;
    } cases[] = {
        {0, 2, 0, SS_COMP, DTYPE_CDROM}, {0, 3, 0, SS_COMP, DTYPE_PROC},
        {0, 4, 0, SS_COMP, DTYPE_WORM},  {0, 3, 1, SS_NO_DEVICE, 0},
        {0, 5, 0, SS_NO_DEVICE, 0},      {0, 2, 1, SS_NO_DEVICE, 0},
        {1, 2, 0, SS_INVALID_HA, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int(c.haId) << ":" << int(c.target) << ":" << int(c.lun));
        SRB_GDEVBlock srb{};
        srb.SRB_Cmd = SC_GET_DEV_TYPE;
        srb.SRB_HaId = c.haId;
        srb.SRB_Target = c.target;
        srb.SRB_Lun = c.lun;
        EXPECT_EQ(c.status, manager.SendCommand(&srb));
        EXPECT_EQ(c.status, srb.SRB_Status);
        EXPECT_EQ(c.type, srb.SRB_DeviceType);
    }
    EXPECT_TRUE(ports.Calls().empty()) << "the type comes from the port's inquiry data";
}

TEST(OtherAspiCommands, AreAnsweredWithoutReachingADevice) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(0)}}};
    TAspiManager manager(ports);
    for (BYTE command : {BYTE(SC_RESET_DEV), BYTE(SC_SET_HA_PARMS), BYTE(SC_GET_DISK_INFO),
                         BYTE(SC_RESCAN_SCSI_BUS), BYTE(SC_GETSET_TIMEOUTS), BYTE(0x42)}) {
        SCOPED_TRACE(int(command));
        SRB_BusDeviceReset srb{}; // the largest of the blocks
        srb.SRB_Cmd = command;
        EXPECT_EQ(SS_INVALID_CMD, manager.SendCommand(&srb));
        EXPECT_EQ(SS_INVALID_CMD, srb.SRB_Status);
    }
    EXPECT_EQ(SS_INVALID_SRB, manager.SendCommand(nullptr));
    EXPECT_TRUE(ports.Calls().empty());
}

TEST(ExecRequestChecks, RefuseBlocksThatCannotBeCarriedOut) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(1)}}};
    ports.ports[0].maxTransfer = 0x8000;
    TAspiManager manager(ports);
    static BYTE buffer[0x8001];
    const BYTE in = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    struct Case {
        const char *what;
        BYTE target, flags, cdbLength;
        BYTE *buffer;
        DWORD length;
        DWORD status;
    } cases[] = {
        {"no CDB", 1, in, 0, buffer, 36, SS_INVALID_SRB},
        {"CDB of 17 bytes", 1, in, 17, buffer, 36, SS_INVALID_SRB},
        {"both directions", 1, in | SRB_DIR_OUT, 6, buffer, 36, SS_INVALID_SRB},
        {"both directions, no data", 1, in | SRB_DIR_OUT, 6, nullptr, 0, SS_INVALID_SRB},
        {"data without direction", 1, SRB_EVENT_NOTIFY, 6, buffer, 36, SS_INVALID_SRB},
        {"data without buffer", 1, in, 6, nullptr, 36, SS_INVALID_SRB},
        {"above the maximum", 1, in, 12, buffer, 0x8001, SS_BUFFER_TOO_BIG},
        {"absent target", 6, in, 6, buffer, 36, SS_NO_DEVICE},
        {"at the maximum", 1, in, 12, buffer, 0x8000, SS_PENDING},
        {"16-byte CDB", 1, in, 16, buffer, 36, SS_PENDING},
        {"direction without data", 1, in, 6, nullptr, 0, SS_PENDING},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = ports.Calls().size();
        TExecBlock block(0, c.target, c.flags, {0x12}, c.buffer, c.length);
        block.srb.SRB_CDBLen = c.cdbLength;
        EXPECT_EQ(c.status, block.SendAndWait(manager));
        if (c.status == SS_PENDING) {
            EXPECT_EQ(SS_COMP, block.srb.SRB_Status);
            EXPECT_EQ(before + 1, ports.Calls().size());
        } else {
            EXPECT_EQ(c.status, block.srb.SRB_Status);
            EXPECT_EQ(before, ports.Calls().size()) << "a refused block reached the device";
            // The client's event is signalled for a refusal as for a completion.
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(block.Event(), 0));
        }
    }
}

TEST(ExecRequestChecks, ABlockAskingForBothNotificationsGetsNeither) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(1)}}};
    TAspiManager manager(ports);
    TExecBlock block(0, 1, SRB_EVENT_NOTIFY | SRB_POSTING, {0x00, 0, 0, 0, 0, 0});
    block.srb.SRB_PostProc = block.Event();
    EXPECT_EQ(SS_INVALID_SRB, manager.SendCommand(&block.srb));
    EXPECT_EQ(SS_INVALID_SRB, block.srb.SRB_Status);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(block.Event(), 0));
}

} // namespace
