// The ASPI host adapters our manager offers: every bus (path) of every SCSI port that Windows
// lets us open, with the devices the port driver found, and the buses of CD-ROM class devices
// whose port is not to be seen (Wine offers class devices only); numbered in the order of
// (port, path).
#ifndef M770B_ASPI_ADAPTERTABLE_H
#define M770B_ASPI_ADAPTERTABLE_H

#include "aspi/DeviceBackEnd.h"

#include <vector>

// Ports \\.\Scsi0: .. and class devices \\.\CdRom0 .. that enumeration tries.
constexpr unsigned kMaxScsiPorts = 64;
constexpr unsigned kMaxCdRomDevices = 64;

// The largest transfer offered, whatever the port allows: the size every ASPI client is told
// to stay within, and a buffer the system can always copy through buffered pass-through.
constexpr DWORD kMaxTransferLength = 0x10000;

struct TScsiDevice {
    BYTE target;
    BYTE lun;
    bool claimed;  // a class driver owns it: commands go through its class device
    BYTE inquiry0; // first INQUIRY byte: peripheral qualifier and device type
    HANDLE handle; // where its commands go: the class device, or the port
};

struct TScsiAdapter {
    BYTE port;
    BYTE path;
    BYTE initiatorId;
    DWORD maxTransfer;
    HANDLE portHandle;
    std::vector<TScsiDevice> devices;

    const TScsiDevice *FindDevice(BYTE target, BYTE lun) const;
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
};

// Opens the ports and class devices and builds the table. Ports that cannot be opened or
// answer no inquiry data are left out, and so are class devices that tell no address; without
// any, the table is empty. A build that throws (no memory) leaves no handle open.
TAdapterTable EnumerateAdapters(TDeviceBackEnd &backEnd);

#endif
