// The ASPI host adapters our manager offers: every bus (path) that holds a unit, of every SCSI
// port that Windows lets us open, with the devices the port driver found, and the buses of
// CD-ROM class devices whose port is not to be seen (Wine offers class devices only); numbered
// in the order of (port, path). An empty bus is no adapter: Windows' AHCI driver alone reports
// up to 32 of them per controller, and they would push a SCSI card past the numbers a client
// searches.
#ifndef M770B_ASPI_ADAPTERTABLE_H
#define M770B_ASPI_ADAPTERTABLE_H

#include "aspi/DeviceBackEnd.h"
#include "aspi/DeviceName.h"

#include <vector>

// Ports \\.\Scsi0: .. and class devices \\.\CdRom0 .. that enumeration tries.
constexpr unsigned kMaxScsiPorts = 64;
constexpr unsigned kMaxCdRomDevices = 64;

// The largest transfer offered, whatever the port allows: the size every ASPI client is told
// to stay within, and a buffer the system can always copy through buffered pass-through.
constexpr DWORD kMaxTransferLength = 0x10000;
// The page of x86 and x64 Windows, the unit of an adapter's MaximumPhysicalPages.
constexpr DWORD kPageSize = 0x1000;

// What an adapter carries in one transfer, from IOCTL_SCSI_GET_CAPABILITIES
// (IO_SCSI_CAPABILITIES): no more than MaximumTransferLength, and no more than
// MaximumPhysicalPages pages. That is the bound for data that starts on a page boundary, as ours
// does (PassThrough.cpp), and the one the CD-ROM class driver sample computes for such a buffer
// (MaxPageAlignedTransferBytes); MaximumPhysicalPages - 1 pages is its bound for a buffer that
// may start anywhere in a page. Wine answers 8 pages and 32 KiB, which carries a chunk. A port
// that tells nothing is taken at kMaxTransferLength.
DWORD TransferLimit(DWORD maximumTransferLength, DWORD maximumPhysicalPages);

struct TScsiDevice {
    BYTE target;
    BYTE lun;
    bool claimed;               // a class driver owns it: commands go through its class device
    BYTE inquiry0;              // first INQUIRY byte: peripheral qualifier and device type
    HANDLE handle;              // where its commands go: the class device, or the port
    TDeviceName name{};         // the class device that `handle` opened; empty for the port
    bool isolated = false;      // kept from other programs (UnitIsolation.h) once it was changed
    HANDLE mcnHandle = nullptr; // holds its media-change detection off, from then on
};

struct TScsiAdapter {
    BYTE port;
    BYTE path;
    BYTE initiatorId;
    DWORD maxTransfer;
    HANDLE portHandle;
    std::vector<TScsiDevice> devices;

    const TScsiDevice *FindDevice(BYTE target, BYTE lun) const;
    TScsiDevice *FindDevice(BYTE target, BYTE lun) {
        return const_cast<TScsiDevice *>(
            static_cast<const TScsiAdapter *>(this)->FindDevice(target, lun));
    }
};

// The table owns every handle it opened: they are closed with it, also when its building is
// cut short by an exception.
struct TAdapterTable {
    explicit TAdapterTable(TDeviceBackEnd &backEnd) : backEnd(&backEnd) {}
    TAdapterTable(TAdapterTable &&) = default; // the table moved from is left with no handle
    TAdapterTable &operator=(TAdapterTable &&) = delete;
    ~TAdapterTable();

    std::vector<TScsiAdapter> adapters;
    std::vector<HANDLE> handles; // every handle opened, each once
    TDeviceBackEnd *backEnd;
    bool refusedForRights = false; // a device would not open for lack of rights
};

// Opens the ports and class devices and builds the table. Ports that cannot be opened or
// answer no inquiry data are left out, and so are class devices that tell no address; without
// any, the table is empty. A build that throws (no memory) leaves no handle open.
TAdapterTable EnumerateAdapters(TDeviceBackEnd &backEnd);

#endif
