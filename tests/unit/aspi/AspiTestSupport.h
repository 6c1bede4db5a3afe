// Building request blocks and waiting for them, for the tests of our ASPI manager.
#ifndef M770B_TESTS_UNIT_ASPI_ASPITESTSUPPORT_H
#define M770B_TESTS_UNIT_ASPI_ASPITESTSUPPORT_H

#include "aspi/AspiManager.h"
#include "tests/unit/aspi/FakeScsiPorts.h"

#include <gtest/gtest.h>

#include <initializer_list>

// A CD-ROM unit (INQUIRY byte 0 = 5), claimed or not.
inline TFakeUnit CdRomUnit(BYTE target, bool claimed = false) {
    return {target, 0, claimed, DTYPE_CDROM};
}

inline SCSI_ADDRESS Address(BYTE port, BYTE path, BYTE target, BYTE lun = 0) {
    SCSI_ADDRESS address{};
    address.Length = sizeof address;
    address.PortNumber = port;
    address.PathId = path;
    address.TargetId = target;
    address.Lun = lun;
    return address;
}

// A cleared SC_EXEC_SCSI_CMD block with its own event, as a client fills it.
class TExecBlock {
  public:
    TExecBlock(BYTE haId, BYTE target, BYTE flags, std::initializer_list<BYTE> cdb,
               BYTE *buffer = nullptr, DWORD length = 0) {
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = haId;
        srb.SRB_Target = target;
        srb.SRB_Flags = flags;
        srb.SRB_BufPointer = buffer;
        srb.SRB_BufLen = length;
        srb.SRB_SenseLen = 16;
        srb.SRB_CDBLen = static_cast<BYTE>(cdb.size());
        srb.SRB_PostProc = (flags & SRB_EVENT_NOTIFY) ? event_ : nullptr;
        BYTE *at = srb.CDBByte;
        for (BYTE b : cdb)
            *at++ = b;
    }
    ~TExecBlock() { CloseHandle(event_); }
    TExecBlock(const TExecBlock &) = delete;
    TExecBlock &operator=(const TExecBlock &) = delete;

    HANDLE Event() const { return event_; }

    // Submits the block and, when it is pending, waits for its event (at most 10 s).
    // Returns what SendASPI32Command returned.
    DWORD SendAndWait(TAspiManager &manager) {
        const DWORD returned = manager.SendCommand(&srb);
        if (returned == SS_PENDING) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 10000)) << "never completed";
        }
        return returned;
    }

    SRB_ExecSCSICmd srb{};

  private:
    HANDLE event_;
};

#endif
