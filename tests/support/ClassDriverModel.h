// Windows' CD-ROM class driver, the file system that a read/write open mounts over it, and the
// programs of a desktop that open it, for the stand-ins beneath our ASPI manager (the unit
// tests' fake ports and the end-to-end pass-through over the virtual loader). Each rule follows
// a public document, named beside it; where the document leaves it open, the harsher reading.
//
// Time is counted in request boundaries, never measured: the host calls Tick after every
// pass-through it carries, and at each tick every unit the class driver owns
// - is polled with TEST UNIT READY unless its media-change detection is disabled (the class
//   driver polls about once a second; one poll per boundary is the harsher reading);
// - is opened by a program of the desktop (Explorer, AutoPlay, a virus scanner), which mounts
//   and probes its volume (READ TOC) unless the volume is mounted already, locked, or the unit
//   is held for exclusive access.
// The host carries those commands to the unit as it carries its own, and marks them foreign.
#ifndef M770B_TESTS_SUPPORT_CLASSDRIVERMODEL_H
#define M770B_TESTS_SUPPORT_CLASSDRIVERMODEL_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class TClassDriverModel {
  public:
    // What the class driver offers: Windows XP's has no exclusive access (IOCTL_CDROM_EXCLUSIVE_
    // ACCESS came with Vista); from Vista on the rules are the same for 7, 8, 10 and 11.
    enum class TWindows { Xp, Vista };
    // One command the machine itself sends to a unit: `who` is "classpnp" (the media-change
    // poll) or "cdfs" (the mount's probe); `dataIn` the bytes it reads.
    using TSend = std::function<void(unsigned unit, const char *who, const BYTE *cdb,
                                     BYTE cdbLength, DWORD dataIn)>;

    TClassDriverModel(TWindows windows, TSend send) : windows_(windows), send_(std::move(send)) {}

    // A unit the class driver owns; units are numbered 0, 1 ... as added.
    unsigned AddUnit();

    // CreateFile on the unit's class device (\\.\CdRomN or its drive letter): `access` is
    // GENERIC_READ | GENERIC_WRITE or FILE_READ_ATTRIBUTES alone.
    DWORD Open(unsigned unit, DWORD access, HANDLE *handle);
    void Close(HANDLE handle);
    bool Knows(HANDLE handle) const { return opens_.count(handle) != 0; }
    unsigned UnitOf(HANDLE handle) const { return opens_.at(handle).unit; }

    // DeviceIoControl with one of the codes the model owns (IOCTL_STORAGE_MCN_CONTROL,
    // FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME, IOCTL_CDROM_EXCLUSIVE_ACCESS): true and the
    // Win32 error in *error; false when the code is none of them.
    bool Control(HANDLE handle, DWORD code, const void *in, DWORD inSize, DWORD *error);

    // ERROR_SUCCESS when a pass-through on the handle may reach its unit, else the Win32 error.
    DWORD PassThroughRefusal(HANDLE handle) const;

    // A request boundary: the polls and opens above, for every unit.
    void Tick();

  private:
    struct TUnit {
        bool mounted = false;
        HANDLE volumeLock = nullptr; // the handle that holds FSCTL_LOCK_VOLUME
        HANDLE exclusive = nullptr;  // the handle that holds exclusive access
    };
    struct TOpen {
        unsigned unit;
        bool readWrite;
        bool mcnDisabled = false;
    };
    void Mount(unsigned unit);
    bool PollsMediaChange(unsigned unit) const;
    bool OtherOpen(unsigned unit, HANDLE handle) const;
    DWORD LockVolume(HANDLE handle, TOpen &open);
    DWORD DismountVolume(HANDLE handle, TOpen &open);
    DWORD ExclusiveAccess(HANDLE handle, TOpen &open, const void *in, DWORD inSize);

    TWindows windows_;
    TSend send_;
    std::vector<TUnit> units_;
    std::map<HANDLE, TOpen> opens_;
    uintptr_t nextHandle_ = 0x100000;
};

#endif
