#include "aspi/AdapterTable.h"

#include "aspi/DeviceName.h"
#include "aspi/PassThrough.h"
#include "aspi/ScsiIoctl.h"

#include <algorithm>
#include <cstring>

const TScsiDevice *TScsiAdapter::FindDevice(BYTE target, BYTE lun) const {
    for (const TScsiDevice &device : devices)
        if (device.target == target && device.lun == lun)
            return &device;
    return nullptr;
}

TAdapterTable::~TAdapterTable() {
    for (const TScsiAdapter &adapter : adapters)
        for (const TScsiDevice &device : adapter.devices)
            if (device.mcnHandle)
                backEnd->CloseDevice(device.mcnHandle);
    for (HANDLE handle : handles)
        backEnd->CloseDevice(handle);
}

DWORD TransferLimit(DWORD maximumTransferLength, DWORD maximumPhysicalPages) {
    DWORD limit = maximumTransferLength ? maximumTransferLength : kMaxTransferLength;
    if (maximumPhysicalPages > 0)
        limit = std::min<DWORD>(
            limit,
            std::min<DWORD>(maximumPhysicalPages, kMaxTransferLength / kPageSize) * kPageSize);
    return std::min(limit, kMaxTransferLength);
}

namespace {

constexpr DWORD kFirstInquiryBuffer = 0x1000;
constexpr DWORD kLargestInquiryBuffer = 0x100000;

// IOCTL_SCSI_GET_INQUIRY_DATA into a buffer that grows until the answer fits.
bool ReadInquiryData(TDeviceBackEnd &backEnd, HANDLE port, std::vector<BYTE> &answer) {
    for (DWORD size = kFirstInquiryBuffer; size <= kLargestInquiryBuffer; size *= 2) {
        answer.assign(size, 0);
        DWORD returned = 0;
        DWORD error = backEnd.ControlDevice(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0,
                                            answer.data(), size, &returned);
        if (error == ERROR_SUCCESS) {
            answer.resize(std::min(returned, size));
            return !answer.empty();
        }
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

DWORD ReadMaxTransfer(TDeviceBackEnd &backEnd, HANDLE port) {
    IO_SCSI_CAPABILITIES caps{};
    DWORD returned = 0;
    if (backEnd.ControlDevice(port, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps,
                              &returned) != ERROR_SUCCESS ||
        returned < offsetof(IO_SCSI_CAPABILITIES, MaximumPhysicalPages))
        return kMaxTransferLength;
    const bool pagesTold = returned >= offsetof(IO_SCSI_CAPABILITIES, SupportedAsynchronousEvents);
    return TransferLimit(caps.MaximumTransferLength, pagesTold ? caps.MaximumPhysicalPages : 0);
}

// Walks the buses of one port's answer and the chain of devices on each; every offset is
// checked against the answer's length, since it comes from a driver.
void AddBuses(const std::vector<BYTE> &answer, BYTE port, HANDLE portHandle, DWORD maxTransfer,
              std::vector<TScsiAdapter> &adapters) {
    const BYTE busCount = answer[0];
    const size_t busDataAt = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
    for (BYTE bus = 0; bus < busCount; ++bus) {
        const size_t at = busDataAt + bus * sizeof(SCSI_BUS_DATA);
        if (at + sizeof(SCSI_BUS_DATA) > answer.size())
            return;
        SCSI_BUS_DATA busData;
        std::memcpy(&busData, &answer[at], sizeof busData);
        TScsiAdapter adapter{port, bus, busData.InitiatorBusId, maxTransfer, portHandle, {}};
        ULONG offset = busData.InquiryDataOffset;
        const size_t headerSize = offsetof(SCSI_INQUIRY_DATA, InquiryData);
        for (unsigned guard = 0; offset != 0 && guard < 256; ++guard) {
            if (offset + headerSize > answer.size())
                break;
            SCSI_INQUIRY_DATA entry;
            std::memcpy(&entry, &answer[offset], headerSize);
            BYTE inquiry0 = 0x7F; // no device, when the driver sent no INQUIRY bytes
            if (entry.InquiryDataLength > 0 && offset + headerSize < answer.size())
                inquiry0 = answer[offset + headerSize];
            if (entry.PathId == bus)
                adapter.devices.push_back(
                    {entry.TargetId, entry.Lun, entry.DeviceClaimed != 0, inquiry0, portHandle});
            offset = entry.NextInquiryDataOffset;
        }
        if (!adapter.devices.empty())
            adapters.push_back(adapter);
    }
}

bool SameAddress(const SCSI_ADDRESS &address, const TScsiAdapter &adapter,
                 const TScsiDevice &device) {
    return address.PortNumber == adapter.port && address.PathId == adapter.path &&
           address.TargetId == device.target && address.Lun == device.lun;
}

// The first INQUIRY byte of a unit seen only through its class device. A class device that
// does not answer is still a CD-ROM: that is what its class driver claims.
BYTE InquireClassUnit(TDeviceBackEnd &backEnd, HANDLE handle, BYTE path) {
    BYTE inquiry[36] = {};
    TExecRequest request{};
    request.flags = SRB_DIR_IN;
    request.cdbLength = 6;
    request.cdb[0] = 0x12; // INQUIRY
    request.cdb[4] = sizeof inquiry;
    request.bufLen = sizeof inquiry;
    request.buffer = inquiry;
    std::vector<BYTE> scratch;
    const TExecOutcome outcome = RunPassThrough(backEnd, handle, path, request, scratch);
    return outcome.status == SS_COMP && outcome.transferred > 0 ? inquiry[0] : BYTE(DTYPE_CDROM);
}

TScsiAdapter &AdapterOf(TDeviceBackEnd &backEnd, TAdapterTable &table, HANDLE handle,
                        const SCSI_ADDRESS &address) {
    for (TScsiAdapter &adapter : table.adapters)
        if (adapter.port == address.PortNumber && adapter.path == address.PathId)
            return adapter;
    table.adapters.push_back(
        {address.PortNumber, address.PathId, 7, ReadMaxTransfer(backEnd, handle), nullptr, {}});
    return table.adapters.back();
}

// Whether the class device at this address takes over a unit of the table, joins the table
// as a unit of its own, or is of no use (its address is a unit already reached).
bool UseClassDevice(TDeviceBackEnd &backEnd, TAdapterTable &table, HANDLE handle,
                    const TDeviceName &name, const SCSI_ADDRESS &address) {
    for (TScsiAdapter &adapter : table.adapters)
        for (TScsiDevice &device : adapter.devices)
            if (SameAddress(address, adapter, device)) {
                if (!device.claimed || device.handle != adapter.portHandle)
                    return false;
                device.handle = handle;
                device.name = name;
                return true;
            }
    // A unit that only its class device shows: Wine offers \\.\CdRomN but no SCSI port,
    // and a port may refuse to open where its class device does not.
    const BYTE inquiry0 = InquireClassUnit(backEnd, handle, address.PathId);
    AdapterOf(backEnd, table, handle, address)
        .devices.push_back({address.TargetId, address.Lun, true, inquiry0, handle, name});
    return true;
}

// Opens a device for reading and writing into the table's handles, so that it is closed with the
// table whatever happens next; INVALID_HANDLE_VALUE when it cannot be opened. A refusal for
// rights is remembered: a limited user is to hear that, not that nothing is there.
HANDLE OpenInto(TDeviceBackEnd &backEnd, TAdapterTable &table, const char *name) {
    table.handles.reserve(table.handles.size() + 1); // the one step that may throw
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = backEnd.OpenDevice(name, TDeviceBackEnd::kReadWrite, &handle);
    if (error == ERROR_ACCESS_DENIED)
        table.refusedForRights = true;
    if (error != ERROR_SUCCESS)
        return INVALID_HANDLE_VALUE;
    table.handles.push_back(handle);
    return handle;
}

// Closes the device last opened into the table again: it serves no unit.
void CloseLast(TDeviceBackEnd &backEnd, TAdapterTable &table) {
    backEnd.CloseDevice(table.handles.back());
    table.handles.pop_back();
}

void TryClassDevice(TDeviceBackEnd &backEnd, TAdapterTable &table, const TDeviceName &name) {
    HANDLE handle = OpenInto(backEnd, table, name.c_str());
    if (handle == INVALID_HANDLE_VALUE)
        return;
    SCSI_ADDRESS address{};
    DWORD returned = 0;
    const bool used = backEnd.ControlDevice(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address,
                                            sizeof address, &returned) == ERROR_SUCCESS &&
                      returned >= offsetof(SCSI_ADDRESS, Lun) + 1 &&
                      UseClassDevice(backEnd, table, handle, name, address);
    if (!used)
        CloseLast(backEnd, table);
}

// A claimed device is reached through its class device: the port driver refuses pass-through
// to a unit that a class driver owns. Each \\.\CdRomN tells its address with
// IOCTL_SCSI_GET_ADDRESS. The drive letters of CD-ROM drives come last: under Wine only
// \\.\X: reaches the Linux device (its \\.\CdRomN carries no SCSI requests), and a unit
// already reached through \\.\CdRomN is not taken twice.
void AttachClassDevices(TDeviceBackEnd &backEnd, TAdapterTable &table) {
    for (unsigned n = 0; n < kMaxCdRomDevices; ++n)
        TryClassDevice(backEnd, table, TDeviceName().Text("\\\\.\\CdRom").Number(n));
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (!backEnd.IsCdRomDrive(letter))
            continue;
        TryClassDevice(backEnd, table, TDeviceName().Text("\\\\.\\").Letter(letter).Text(":"));
    }
}

} // namespace

TAdapterTable EnumerateAdapters(TDeviceBackEnd &backEnd) {
    TAdapterTable table(backEnd);
    std::vector<BYTE> answer;
    for (unsigned port = 0; port < kMaxScsiPorts; ++port) {
        const TDeviceName name = TDeviceName().Text("\\\\.\\Scsi").Number(port).Text(":");
        HANDLE handle = OpenInto(backEnd, table, name.c_str());
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        const size_t before = table.adapters.size();
        if (ReadInquiryData(backEnd, handle, answer))
            AddBuses(answer, static_cast<BYTE>(port), handle, ReadMaxTransfer(backEnd, handle),
                     table.adapters);
        if (table.adapters.size() == before)
            CloseLast(backEnd, table);
    }
    AttachClassDevices(backEnd, table);
    // Adapter numbers follow (port, path): what a client remembers between runs.
    std::stable_sort(table.adapters.begin(), table.adapters.end(),
                     [](const TScsiAdapter &a, const TScsiAdapter &b) {
                         return a.port != b.port ? a.port < b.port : a.path < b.path;
                     });
    return table;
}
