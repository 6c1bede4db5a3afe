#include "aspi/UnitIsolation.h"

#include "aspi/StorageIoctl.h"

#include <cstring>

namespace {

constexpr BYTE kFirstVendorOpcode = 0xC0;

// CDROM_EXCLUSIVE_LOCK_STATE and the CD-ROM class driver sample (ioctl.c, ValidChar): the
// caller's name holds letters, digits, blanks and . , : ; - _ only, and at most 63 of them.
bool CallerChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(" .,:;-_", c) != nullptr;
}

// The program's file name without folder and extension, other characters as '_'.
void CallerName(UCHAR (&name)[kCdromExclusiveCallerLength]) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char *start = path;
    for (DWORD i = 0; i < length && i < MAX_PATH; ++i)
        if (path[i] == '\\' || path[i] == '/')
            start = path + i + 1;
    size_t count = 0;
    for (const char *c = start; *c && *c != '.' && count + 1 < sizeof name; ++c)
        name[count++] = CallerChar(*c) ? UCHAR(*c) : UCHAR('_');
    if (count == 0)
        std::memcpy(name, "wnaspi32", 9);
}

DWORD Control(TDeviceBackEnd &backEnd, HANDLE handle, DWORD code, void *in, DWORD size) {
    DWORD returned = 0;
    return backEnd.ControlDevice(handle, code, in, size, nullptr, 0, &returned);
}

// Media-change detection off for as long as the handle stays open (IOCTL_STORAGE_MCN_CONTROL
// counts the disables per file object and drops them at its close).
void DisableMediaChange(TDeviceBackEnd &backEnd, TScsiDevice &device) {
    HANDLE handle = nullptr;
    if (backEnd.OpenDevice(device.name.c_str(), FILE_READ_ATTRIBUTES, &handle) != ERROR_SUCCESS)
        return;
    device.mcnHandle = handle;
    PREVENT_MEDIA_REMOVAL disable{TRUE};
    Control(backEnd, handle, IOCTL_STORAGE_MCN_CONTROL, &disable, sizeof disable);
}

} // namespace

bool ChangesUnit(const TExecRequest &request) {
    if (request.bufLen > 0 && (request.flags & SRB_DIR_OUT))
        return true;
    const bool bringsData = request.bufLen > 0 && (request.flags & SRB_DIR_IN);
    return request.cdb[0] >= kFirstVendorOpcode && !bringsData;
}

void IsolateUnit(TDeviceBackEnd &backEnd, TScsiDevice &device) {
    if (device.isolated || !device.claimed || device.name.c_str()[0] == '\0')
        return;
    device.isolated = true;
    DisableMediaChange(backEnd, device);
    // The lock first: without it a dismounted volume may be mounted again by any open.
    Control(backEnd, device.handle, FSCTL_LOCK_VOLUME, nullptr, 0);
    Control(backEnd, device.handle, FSCTL_DISMOUNT_VOLUME, nullptr, 0);
    TCdromExclusiveLock lock{};
    lock.requestType = kExclusiveAccessLockDevice; // flags 0: only with the volume dismounted
    CallerName(lock.callerName);
    Control(backEnd, device.handle, IOCTL_CDROM_EXCLUSIVE_ACCESS, &lock, sizeof lock);
}
