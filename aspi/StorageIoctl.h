// The storage, CD-ROM and volume control codes that keep other programs off a unit being
// written, with what MinGW-w64 does not declare: IOCTL_CDROM_EXCLUSIVE_ACCESS and its
// structures (ntddcdrm.h of the Windows Driver Kit, Windows Vista and later), written from
// Microsoft's documentation of IOCTL_CDROM_EXCLUSIVE_ACCESS and CDROM_EXCLUSIVE_LOCK. The sizes
// are those of both widths: the structures hold no pointer.
#ifndef M770B_ASPI_STORAGEIOCTL_H
#define M770B_ASPI_STORAGEIOCTL_H

// clang-format off
#include <windows.h>
#include <winioctl.h>
// clang-format on

#include <cstddef>

#ifndef IOCTL_CDROM_BASE
#define IOCTL_CDROM_BASE FILE_DEVICE_CD_ROM
#endif
#ifndef IOCTL_CDROM_EXCLUSIVE_ACCESS
#define IOCTL_CDROM_EXCLUSIVE_ACCESS                                                               \
    CTL_CODE(IOCTL_CDROM_BASE, 0x0017, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#endif

// CDROM_EXCLUSIVE_ACCESS.RequestType (EXCLUSIVE_ACCESS_REQUEST_TYPE).
constexpr ULONG kExclusiveAccessLockDevice = 1;
// CDROM_EXCLUSIVE_CALLER_LENGTH: the caller's name with its terminating zero.
constexpr size_t kCdromExclusiveCallerLength = 64;

struct TCdromExclusiveLock {
    ULONG requestType; // CDROM_EXCLUSIVE_ACCESS.RequestType
    ULONG flags;       // CDROM_EXCLUSIVE_ACCESS.Flags
    UCHAR callerName[kCdromExclusiveCallerLength];
};

static_assert(sizeof(TCdromExclusiveLock) == 72, "CDROM_EXCLUSIVE_LOCK");
static_assert(offsetof(TCdromExclusiveLock, callerName) == 8, "CallerName");
static_assert(sizeof(PREVENT_MEDIA_REMOVAL) == 1, "PREVENT_MEDIA_REMOVAL");
static_assert(IOCTL_CDROM_EXCLUSIVE_ACCESS == 0x2C05C, "IOCTL_CDROM_EXCLUSIVE_ACCESS");
static_assert(IOCTL_STORAGE_MCN_CONTROL == 0x2D0944, "IOCTL_STORAGE_MCN_CONTROL");
static_assert(FSCTL_LOCK_VOLUME == 0x90018, "FSCTL_LOCK_VOLUME");
static_assert(FSCTL_DISMOUNT_VOLUME == 0x90020, "FSCTL_DISMOUNT_VOLUME");

#endif
