// How our manager finds and numbers host adapters and reaches their units.
#include "aspi/EntryPoints.h"
#include "tests/unit/aspi/AspiTestSupport.h"

#include <cstring>
#include <functional>
#include <new>
#include <string>

namespace {

// One call of an exported entry point on a thread of its own, so that a call that never returns
// fails the test at a bounded wait instead of hanging the test program. The call's state stays
// allocated while its thread runs.
class TExportCall {
  public:
    explicit TExportCall(std::function<DWORD()> call) : state_(new TState{std::move(call), 0}) {
        thread_ = CreateThread(nullptr, 0, Run, state_, 0, nullptr);
    }
    ~TExportCall() {
        if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0)
            delete state_;
        CloseHandle(thread_);
    }
    TExportCall(const TExportCall &) = delete;
    TExportCall &operator=(const TExportCall &) = delete;

    // Whether the call returned within 5 s, and what it returned.
    bool Returned(DWORD &result) const {
        if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0)
            return false;
        result = state_->result;
        return true;
    }

  private:
    struct TState {
        std::function<DWORD()> call;
        DWORD result;
    };
    static DWORD WINAPI Run(void *state) {
        static_cast<TState *>(state)->result = static_cast<TState *>(state)->call();
        return 0;
    }
    TState *state_;
    HANDLE thread_;
};

std::string Identifier(TAspiManager &manager, BYTE haId) {
    SRB_HAInquiry srb{};
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = haId;
    if (manager.SendCommand(&srb) != SS_COMP)
        return "<none>";
    return std::string(reinterpret_cast<const char *>(srb.HA_Identifier), 16);
}

// The device name that an INQUIRY to the unit went to, and the path it carried.
std::string RouteOf(TFakeScsiPorts &ports, TAspiManager &manager, BYTE haId, BYTE target) {
    const size_t before = ports.Calls().size();
    TExecBlock block(haId, target, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(SS_PENDING, block.SendAndWait(manager));
    const auto calls = ports.Calls();
    if (calls.size() != before + 1)
        return "<not sent>";
    return calls.back().device + " path " + std::to_string(calls.back().header.PathId);
}

// Only buses that hold a unit are adapters: an AHCI controller's 32 empty buses ahead of the
// SCSI card would push it past the adapters a client searches.
TEST(AdapterEnumeration, NumbersThePathsOfEveryOpenablePortInOrder) {
    TFakeScsiPorts ports;
    ports.ports[0].buses.assign(32, TFakeBus{7, {}});
    ports.ports[1].buses = {{7, {CdRomUnit(2)}}, {7, {}}, {6, {CdRomUnit(4)}}};
    ports.ports[3].buses = {{7, {CdRomUnit(1)}}};
    ports.ports[2].inquiryError = ERROR_INVALID_FUNCTION; // answers no inquiry data
    ports.openErrors["\\\\.\\Scsi4:"] = ERROR_ACCESS_DENIED;
    TAspiManager manager(ports);

    EXPECT_EQ(3u, manager.AdapterCount());
    EXPECT_EQ((DWORD(SS_COMP) << 8) | 3, manager.SupportInfo());
    EXPECT_EQ("Scsi1: path 0   ", Identifier(manager, 0));
    EXPECT_EQ("Scsi1: path 2   ", Identifier(manager, 1));
    EXPECT_EQ("Scsi3: path 0   ", Identifier(manager, 2));
    EXPECT_EQ("<none>", Identifier(manager, 3));

    EXPECT_EQ("\\\\.\\Scsi1: path 0", RouteOf(ports, manager, 0, 2));
    EXPECT_EQ("\\\\.\\Scsi1: path 2", RouteOf(ports, manager, 1, 4));
    EXPECT_EQ("\\\\.\\Scsi3: path 0", RouteOf(ports, manager, 2, 1));
    // Target and LUN pass through unchanged.
    ASSERT_FALSE(ports.Calls().empty());
    EXPECT_EQ(1, ports.Calls().back().header.TargetId);
    EXPECT_EQ(0, ports.Calls().back().header.Lun);
    // The port without inquiry data and the one with empty buses only were closed again.
    EXPECT_EQ(2u, ports.OpenHandles());
}

TEST(AdapterEnumeration, ClaimedUnitsGoThroughTheirClassDevice) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(2, true), {4, 0, false, DTYPE_PROC}}}};
    ports.ports[1].buses = {{7, {CdRomUnit(2, true)}}};
    ports.cdRoms[0] = Address(1, 0, 2); // the drive on the other port
    ports.cdRoms[1] = Address(0, 0, 2);
    ports.cdRoms[2] = Address(0, 0, 5); // a unit the port did not list
    ports.cdRoms[3] = Address(0, 0, 4); // the unclaimed unit: stays with its port
    TAspiManager manager(ports);

    EXPECT_EQ("\\\\.\\CdRom1 path 0", RouteOf(ports, manager, 0, 2));
    EXPECT_EQ("\\\\.\\Scsi0: path 0", RouteOf(ports, manager, 0, 4));
    EXPECT_EQ("\\\\.\\CdRom0 path 0", RouteOf(ports, manager, 1, 2));
    EXPECT_EQ("\\\\.\\CdRom2 path 0", RouteOf(ports, manager, 0, 5));
    // Two ports and the three class devices in use stay open; CdRom3 was closed again.
    EXPECT_EQ(5u, ports.OpenHandles());
}

TEST(AdapterEnumeration, ClassDevicesWithoutAVisiblePortBecomeUnitsOfTheirOwn) {
    // As under Wine: no \\.\ScsiN: at all; CD-ROM class devices and drive letters.
    TFakeScsiPorts ports;
    ports.cdRoms[0] = Address(2, 0, 5);
    ports.cdRoms[1] = Address(1, 0, 3);
    ports.cdRoms[2] = Address(1, 0, 3);           // the same unit twice: the first one serves
    ports.cdDriveLetters['E'] = Address(1, 0, 3); // and once more by its drive letter
    ports.cdDriveLetters['D'] = Address(3, 0, 0); // only its drive letter carries requests
    ports.answer = [](const TPassThroughCall &call) {
        TDeviceAnswer a;
        if (call.device == "\\\\.\\CdRom1" && call.header.Cdb[0] == 0x12)
            a.dataIn = {DTYPE_WORM, 0x80, 0x02};
        return a; // CdRom0 answers no INQUIRY data
    };
    TAspiManager manager(ports);

    ASSERT_EQ(3u, manager.AdapterCount());
    EXPECT_EQ("Scsi1: path 0   ", Identifier(manager, 0));
    EXPECT_EQ("Scsi2: path 0   ", Identifier(manager, 1));
    EXPECT_EQ("Scsi3: path 0   ", Identifier(manager, 2));
    struct Case {
        BYTE haId, target;
        DWORD status;
        BYTE type;
    } cases[] = {
        {0, 3, SS_COMP, DTYPE_WORM}, {1, 5, SS_COMP, DTYPE_CDROM}, {1, 3, SS_NO_DEVICE, 0}};
    for (const Case &c : cases) {
        SRB_GDEVBlock srb{};
        srb.SRB_Cmd = SC_GET_DEV_TYPE;
        srb.SRB_HaId = c.haId;
        srb.SRB_Target = c.target;
        EXPECT_EQ(c.status, manager.SendCommand(&srb)) << int(c.haId) << ":" << int(c.target);
        EXPECT_EQ(c.type, srb.SRB_DeviceType);
    }
    EXPECT_EQ("\\\\.\\CdRom1 path 0", RouteOf(ports, manager, 0, 3));
    EXPECT_EQ("\\\\.\\CdRom0 path 0", RouteOf(ports, manager, 1, 5));
    EXPECT_EQ("\\\\.\\D: path 0", RouteOf(ports, manager, 2, 0));
    EXPECT_EQ(3u, ports.OpenHandles()) << "CdRom2 and E: were closed again";
}

// No adapter: the client hears whether Windows refused us (a limited user) or nothing is there.
TEST(AdapterEnumeration, NoRightsOrNoPortsMeansNoAdapters) {
    struct Case {
        const char *what;
        DWORD openError;
        BYTE support;
    } cases[] = {{"access denied", ERROR_ACCESS_DENIED, SS_SECURITY_VIOLATION},
                 {"no such port", ERROR_FILE_NOT_FOUND, SS_NO_ADAPTERS}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TFakeScsiPorts ports;
        ports.ports[0].buses = {{7, {CdRomUnit(0)}}};
        for (unsigned n = 0; n < kMaxScsiPorts; ++n)
            ports.openErrors["\\\\.\\Scsi" + std::to_string(n) + ":"] = c.openError;
        TAspiManager manager(ports);

        EXPECT_EQ(DWORD(c.support) << 8, manager.SupportInfo());
        SRB_HAInquiry inquiry{};
        inquiry.SRB_Cmd = SC_HA_INQUIRY;
        EXPECT_EQ(SS_INVALID_HA, manager.SendCommand(&inquiry));
        EXPECT_EQ(0, inquiry.HA_Count);
        TExecBlock block(0, 0, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0});
        EXPECT_EQ(SS_INVALID_HA, block.SendAndWait(manager));
        EXPECT_EQ(SS_INVALID_HA, block.srb.SRB_Status);
        EXPECT_TRUE(ports.Calls().empty());
    }
}

TEST(AdapterEnumeration, ALargeInquiryAnswerIsReadWithAGrownBuffer) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(5)}}};
    ports.ports[0].inquiryPadding = 20000; // far beyond the first buffer
    TAspiManager manager(ports);
    ASSERT_EQ(1u, manager.AdapterCount());
    SRB_GDEVBlock srb{};
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_Target = 5;
    EXPECT_EQ(SS_COMP, manager.SendCommand(&srb));
}

TEST(AdapterEnumeration, EveryHandleIsClosedWithTheManager) {
    TFakeScsiPorts ports;
    ports.ports[0].buses = {{7, {CdRomUnit(1, true)}}};
    ports.ports[4].buses = {{7, {}}, {7, {CdRomUnit(0)}}};
    ports.cdRoms[3] = Address(0, 0, 1);
    {
        TAspiManager manager(ports);
        EXPECT_EQ(2u, manager.AdapterCount());
        EXPECT_EQ(3u, ports.OpenHandles());
        // An erase keeps the unit from other programs with a handle of its own.
        TExecBlock erase(0, 1, SRB_EVENT_NOTIFY, {0xE1, 4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        ASSERT_EQ(SS_PENDING, erase.SendAndWait(manager));
        EXPECT_EQ(4u, ports.OpenHandles());
    }
    EXPECT_EQ(0u, ports.OpenHandles());
}

// The entry points (what the DLL's exports call) build the manager on the first call. A build
// that throws (no memory for a class device's INQUIRY) answers that call, a call that waited for
// the build and every later call at once, is not tried again, and closes the devices it opened.
TEST(AdapterEnumeration, AManagerThatCannotBeBuiltAnswersEveryCallAtOnce) {
    // What a call that never returns may still be using outlives the test.
    struct TWorld {
        TFakeScsiPorts ports;
        HANDLE building = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE fail = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE waiting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        TAspiEntryPoints entry{waiting};
        TExecBlock block{0, 1, SRB_EVENT_NOTIFY, {0x00, 0, 0, 0, 0, 0}};
        SRB_HAInquiry later{};
    } &w = *new TWorld;
    w.ports.ports[0].buses = {{7, {CdRomUnit(2)}}}; // already open when the class device fails
    w.ports.cdRoms[0] = Address(1, 0, 1);
    w.ports.answer = [&w](const TPassThroughCall &) -> TDeviceAnswer {
        SetEvent(w.building);
        WaitForSingleObject(w.fail, 10000);
        throw std::bad_alloc();
    };
    w.later.SRB_Cmd = SC_HA_INQUIRY;

    TExportCall builder([&w] { return w.entry.SupportInfo(w.ports); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w.building, 5000));
    TExportCall waiter([&w] { return w.entry.SendCommand(w.ports, &w.block.srb); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w.waiting, 5000)) << "no call waits for the build";
    SetEvent(w.fail);

    DWORD result = 0;
    ASSERT_TRUE(builder.Returned(result)) << "the building call never returned";
    EXPECT_EQ(DWORD(SS_INSUFFICIENT_RESOURCES) << 8, result);
    EXPECT_EQ(0u, w.ports.OpenHandles()) << "the failed build left devices open";
    ASSERT_TRUE(waiter.Returned(result)) << "the call waiting for the build never returned";
    EXPECT_EQ(DWORD(SS_INSUFFICIENT_RESOURCES), result);
    EXPECT_EQ(SS_INSUFFICIENT_RESOURCES, w.block.srb.SRB_Status);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(w.block.Event(), 0));

    TExportCall inquiry([&w] { return w.entry.SendCommand(w.ports, &w.later); });
    ASSERT_TRUE(inquiry.Returned(result)) << "a later call never returned";
    EXPECT_EQ(DWORD(SS_INSUFFICIENT_RESOURCES), result);
    EXPECT_EQ(SS_INSUFFICIENT_RESOURCES, w.later.SRB_Status);
    TExportCall support([&w] { return w.entry.SupportInfo(w.ports); });
    ASSERT_TRUE(support.Returned(result)) << "a later call never returned";
    EXPECT_EQ(DWORD(SS_INSUFFICIENT_RESOURCES) << 8, result);
    EXPECT_EQ(1u, w.ports.Calls().size()) << "the build was tried again";
    for (HANDLE event : {w.building, w.fail, w.waiting})
        CloseHandle(event);
    delete &w;
}

} // namespace
