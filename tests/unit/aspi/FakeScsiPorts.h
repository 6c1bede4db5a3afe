// A stand-in for the Windows SCSI port and class drivers behind our ASPI manager's back-end
// interface: ports with buses and units, CD-ROM class devices with their addresses (one unit of
// the class driver model per address), and a scripted answer to every pass-through. It records
// what reached it: our manager's pass-throughs, its other controls of class devices, and the
// commands the class driver and the desktop sent of their own.
#ifndef M770B_TESTS_UNIT_ASPI_FAKESCSIPORTS_H
#define M770B_TESTS_UNIT_ASPI_FAKESCSIPORTS_H

#include "aspi/DeviceBackEnd.h"
#include "aspi/ScsiIoctl.h"
#include "scsi/wnaspi32.h"
#include "tests/support/ClassDriverModel.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TFakeUnit {
    BYTE target;
    BYTE lun;
    bool claimed;
    BYTE inquiry0; // device type in the low five bits
};

struct TFakeBus {
    BYTE initiatorId;
    std::vector<TFakeUnit> units;
};

struct TFakePort {
    std::vector<TFakeBus> buses;
    DWORD inquiryError = ERROR_SUCCESS; // IOCTL_SCSI_GET_INQUIRY_DATA fails with it
    DWORD inquiryPadding = 0;           // extra answer bytes, to make the answer large
    DWORD maxTransfer = 0x20000;        // IOCTL_SCSI_GET_CAPABILITIES
    DWORD maxPages = 33;                // MaximumPhysicalPages: the port refuses a longer transfer
};

// One pass-through as the driver received it.
struct TPassThroughCall {
    std::string device; // the name the handle was opened by
    SCSI_PASS_THROUGH header;
    std::vector<BYTE> dataOut;
};

// What a scripted device answers: the control's error, or ERROR_SUCCESS with a SCSI status,
// data in and sense bytes. ERROR_MORE_DATA is a warning: it comes with status, data and sense.
struct TDeviceAnswer {
    DWORD error = ERROR_SUCCESS;
    BYTE scsiStatus = 0;
    std::vector<BYTE> dataIn;
    std::vector<BYTE> sense;
};

class TFakeScsiPorts : public TDeviceBackEnd {
  public:
    std::map<unsigned, TFakePort> ports;
    std::map<unsigned, SCSI_ADDRESS> cdRoms;     // \\.\CdRomN
    std::map<char, SCSI_ADDRESS> cdDriveLetters; // \\.\X: of CD-ROM drives
    std::map<std::string, DWORD> openErrors;     // a device name that fails to open, and how
    TClassDriverModel::TWindows windows = TClassDriverModel::TWindows::Vista;
    std::function<TDeviceAnswer(const TPassThroughCall &)> answer = [](const TPassThroughCall &) {
        return TDeviceAnswer{};
    };

    // Requests whose event or post routine was signalled: the block's status fields at that
    // moment.
    struct TSignal {
        BYTE status;
        BYTE haStat;
        BYTE targStat;
        BYTE sense0;
    };
    void WatchEvent(HANDLE event, const SRB_ExecSCSICmd *srb);
    std::vector<TSignal> Signals() const;

    std::vector<TPassThroughCall> Calls() const;
    // A control of a class device other than pass-through, as "CdRom1 <code> <error>" (code and
    // error in hexadecimal), in order.
    std::vector<std::string> Controls() const;
    // The commands the machine sent of its own, as "CdRom1 classpnp 00" (device, sender, opcode).
    std::vector<std::string> Foreign() const;
    std::vector<std::string> Opened() const;
    unsigned OpenHandles() const;
    // The most pass-throughs that were in progress at once on one (device, path).
    unsigned MaxOverlap() const;

    DWORD OpenDevice(const char *name, DWORD access, HANDLE *device) override;
    DWORD ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                        DWORD *returned) override;
    void CloseDevice(HANDLE device) override;
    bool IsCdRomDrive(char letter) override { return cdDriveLetters.count(letter) != 0; }
    void SignalEvent(HANDLE event) override;

  private:
    const SCSI_ADDRESS *ClassAddress(const std::string &name);
    unsigned ClassUnit(const SCSI_ADDRESS &address);
    TClassDriverModel &Model();
    DWORD ClassControl(HANDLE device, const std::string &name, DWORD code, void *in, DWORD inSize);
    DWORD InquiryData(unsigned port, void *out, DWORD outSize, DWORD *returned);
    DWORD PassThrough(const std::string &name, const TFakePort &port, void *buffer, DWORD size,
                      DWORD *returned);

    mutable std::mutex lock_;
    std::map<HANDLE, std::string> handles_;
    std::vector<std::string> opened_;
    std::vector<TPassThroughCall> calls_;
    std::vector<std::string> controls_, foreign_;
    std::unique_ptr<TClassDriverModel> model_;
    std::vector<SCSI_ADDRESS> unitAddresses_; // of the model's units, by number
    std::map<std::string, unsigned> inFlight_;
    unsigned maxOverlap_ = 0;
    std::map<HANDLE, const SRB_ExecSCSICmd *> watched_;
    std::vector<TSignal> signals_;
    uintptr_t nextHandle_ = 0x100;
};

#endif
