#include "tests/support/ClassDriverModel.h"

#include "aspi/StorageIoctl.h"

#include <cstring>

namespace {

const BYTE kTestUnitReady[6] = {0x00, 0, 0, 0, 0, 0};
// READ TOC, format 0, 12 bytes: what CDFS's mount (CdMountVolume, fsctrl.c) reads first.
const BYTE kReadToc[10] = {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0};
constexpr DWORD kTocLength = 12;

// The CD-ROM class driver sample (ioctl.c, ValidChar) and CDROM_EXCLUSIVE_LOCK_STATE: letters,
// digits, blanks and . , : ; - _, at least one, at most 63 and a terminating zero.
bool ValidCallerName(const UCHAR *name) {
    size_t length = 0;
    while (length < kCdromExclusiveCallerLength && name[length]) {
        const char c = char(name[length++]);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              std::strchr(" .,:;-_", c)))
            return false;
    }
    return length > 0 && length < kCdromExclusiveCallerLength;
}

} // namespace

unsigned TClassDriverModel::AddUnit() {
    units_.emplace_back();
    return unsigned(units_.size() - 1);
}

// CD-ROM Exclusive Access Mode: "The system fails requests to open the device while it is
// locked". CDFS (fsctrl.c, CdLockVolumeInternal) marks a locked volume's VPB locked, and the I/O
// manager fails every open of it. An open of FILE_READ_ATTRIBUTES alone is a direct open of the
// device that no file system sees (the exclusive-access page: an open "with the access mode set
// to 0" reaches the class driver); a read/write open mounts the volume first
// (FSCTL_DISMOUNT_VOLUME: "The operating system tries to mount an unmounted volume as soon as an
// attempt is made to access it").
DWORD TClassDriverModel::Open(unsigned unit, DWORD access, HANDLE *handle) {
    *handle = INVALID_HANDLE_VALUE;
    TUnit &state = units_.at(unit);
    const bool readWrite = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    if (state.exclusive || (readWrite && state.volumeLock))
        return ERROR_ACCESS_DENIED;
    if (readWrite && !state.mounted)
        Mount(unit);
    *handle = reinterpret_cast<HANDLE>(nextHandle_++);
    opens_[*handle] = {unit, readWrite};
    return ERROR_SUCCESS;
}

// FSCTL_LOCK_VOLUME and the exclusive-access page: a lock, an exclusive access and the media-
// change disables of IOCTL_STORAGE_MCN_CONTROL all end when their handle closes.
void TClassDriverModel::Close(HANDLE handle) {
    auto open = opens_.find(handle);
    if (open == opens_.end())
        return;
    TUnit &state = units_[open->second.unit];
    if (state.volumeLock == handle)
        state.volumeLock = nullptr;
    if (state.exclusive == handle)
        state.exclusive = nullptr;
    opens_.erase(open);
}

void TClassDriverModel::Mount(unsigned unit) {
    units_[unit].mounted = true;
    BYTE cdb[sizeof kReadToc];
    std::memcpy(cdb, kReadToc, sizeof cdb);
    send_(unit, "cdfs", cdb, sizeof cdb, kTocLength);
}

bool TClassDriverModel::Control(HANDLE handle, DWORD code, const void *in, DWORD inSize,
                                DWORD *error) {
    auto found = opens_.find(handle);
    TOpen *open = found == opens_.end() ? nullptr : &found->second;
    switch (code) {
    case IOCTL_STORAGE_MCN_CONTROL:
        // ntddstor.h, IOCTL_STORAGE_MCN_CONTROL: "The caller must not open the device for read
        // or write access or the IOCTL operation will fail"; the disables count per file object.
        *error = ERROR_SUCCESS;
        if (!open || open->readWrite)
            *error = ERROR_ACCESS_DENIED;
        else if (!in || inSize < sizeof(PREVENT_MEDIA_REMOVAL))
            *error = ERROR_INVALID_PARAMETER;
        else
            open->mcnDisabled = static_cast<const BYTE *>(in)[0] != 0;
        return true;
    case FSCTL_LOCK_VOLUME:
        *error = open ? LockVolume(handle, *open) : ERROR_INVALID_HANDLE;
        return true;
    case FSCTL_DISMOUNT_VOLUME:
        *error = open ? DismountVolume(handle, *open) : ERROR_INVALID_HANDLE;
        return true;
    case IOCTL_CDROM_EXCLUSIVE_ACCESS:
        *error = open ? ExclusiveAccess(handle, *open, in, inSize) : ERROR_INVALID_HANDLE;
        return true;
    default:
        return false;
    }
}

bool TClassDriverModel::OtherOpen(unsigned unit, HANDLE handle) const {
    for (const auto &open : opens_)
        if (open.first != handle && open.second.unit == unit && open.second.readWrite)
            return true;
    return false;
}

// FSCTL_LOCK_VOLUME on a volume handle (a direct open has no file system to ask: invalid). CDFS
// (CdLockVolumeInternal) locks only when the locking handle is the volume's one open, and never
// twice.
DWORD TClassDriverModel::LockVolume(HANDLE handle, TOpen &open) {
    TUnit &state = units_[open.unit];
    if (!open.readWrite)
        return ERROR_INVALID_FUNCTION;
    if (state.volumeLock || OtherOpen(open.unit, handle))
        return ERROR_ACCESS_DENIED;
    state.volumeLock = handle;
    return ERROR_SUCCESS;
}

// FSCTL_DISMOUNT_VOLUME: "If the specified volume is locked by another process, the operation
// fails"; without a lock of its own the volume is mounted again by the next open.
DWORD TClassDriverModel::DismountVolume(HANDLE handle, TOpen &open) {
    TUnit &state = units_[open.unit];
    if (!open.readWrite)
        return ERROR_INVALID_FUNCTION;
    if (state.volumeLock && state.volumeLock != handle)
        return ERROR_ACCESS_DENIED;
    state.mounted = false;
    return ERROR_SUCCESS;
}

// IOCTL_CDROM_EXCLUSIVE_ACCESS (Vista and later), as the class driver sample's
// RequestValidateExclusiveAccess and RequestHandleExclusiveAccessLockDevice judge a lock: the
// whole CDROM_EXCLUSIVE_LOCK, a valid caller's name, no file system mounted unless
// CDROM_LOCK_IGNORE_VOLUME, not locked already. The code asks for read and write access.
DWORD TClassDriverModel::ExclusiveAccess(HANDLE handle, TOpen &open, const void *in, DWORD inSize) {
    TUnit &state = units_[open.unit];
    constexpr ULONG kIgnoreVolume = 0x1;
    if (windows_ == TWindows::Xp)
        return ERROR_INVALID_FUNCTION;
    if (!open.readWrite)
        return ERROR_ACCESS_DENIED;
    TCdromExclusiveLock lock{};
    if (!in || inSize < sizeof lock)
        return ERROR_BAD_LENGTH; // STATUS_INFO_LENGTH_MISMATCH
    std::memcpy(&lock, in, sizeof lock);
    if (lock.requestType != kExclusiveAccessLockDevice || !ValidCallerName(lock.callerName))
        return ERROR_INVALID_PARAMETER;
    if (state.mounted && !(lock.flags & kIgnoreVolume))
        return ERROR_BAD_COMMAND; // STATUS_INVALID_DEVICE_STATE: "file system mounted"
    if (state.exclusive)
        return ERROR_ACCESS_DENIED;
    state.exclusive = handle;
    return ERROR_SUCCESS;
}

// CD-ROM Exclusive Access Mode: "Only the owner of the exclusive access lock can access the
// device. The system fails requests for access from other applications." IOCTL_SCSI_PASS_THROUGH
// asks for read and write access (ntddscsi.h), which a direct open does not have.
DWORD TClassDriverModel::PassThroughRefusal(HANDLE handle) const {
    const TOpen &open = opens_.at(handle);
    const TUnit &state = units_[open.unit];
    if (!open.readWrite || (state.exclusive && state.exclusive != handle))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// The class driver's media-change detection (classpnp and the cdrom sample, autorun.c) runs
// while no file object has it disabled (IOCTL_STORAGE_MCN_CONTROL) and, from Vista on, while
// the unit is not held for exclusive access ("Media change notification is disabled for the
// device").
bool TClassDriverModel::PollsMediaChange(unsigned unit) const {
    if (units_[unit].exclusive)
        return false;
    for (const auto &open : opens_)
        if (open.second.unit == unit && open.second.mcnDisabled)
            return false;
    return true;
}

void TClassDriverModel::Tick() {
    for (unsigned unit = 0; unit < units_.size(); ++unit) {
        if (PollsMediaChange(unit)) {
            BYTE cdb[sizeof kTestUnitReady];
            std::memcpy(cdb, kTestUnitReady, sizeof cdb);
            send_(unit, "classpnp", cdb, sizeof cdb, 0);
        }
        const TUnit &state = units_[unit];
        if (!state.exclusive && !state.volumeLock && !state.mounted)
            Mount(unit); // a desktop program's open
    }
}
