// Keeping every other program off a unit from the first command that changes it until the
// process ends. A CD-ROM class driver polls each unit it owns for a media change, a read/write
// open mounts a file system that probes the unit, and Explorer, AutoPlay and virus scanners send
// commands of their own: a drive in the middle of rewriting its flash must see none of them.
//
// Before that first command reaches a unit its class driver owns, our manager
// - disables the class driver's media-change detection for it (IOCTL_STORAGE_MCN_CONTROL, on a
//   handle of its own opened with FILE_READ_ATTRIBUTES alone, as the IOCTL requires: Windows XP
//   and later);
// - locks and dismounts its volume (FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME: Windows XP and
//   later), so that no open mounts it again while the lock holds;
// - takes the class driver's exclusive access (IOCTL_CDROM_EXCLUSIVE_ACCESS, Windows Vista and
//   later), under which the class driver refuses every other handle and disables media-change
//   notification itself.
// The lock, the dismount and the exclusive access are asked through the unit's command handle:
// the volume lock is the handle's that took it and fails while another handle of ours is open
// on the volume; exclusive access refuses every handle but its owner's; and a dismounted
// volume's handle still carries device controls to the class driver (the CDFS sample,
// devctrl.c, passes them on with the caller's file object). So every later command of the
// unit goes through the handle that holds them. Windows releases everything when the handles
// close, at the latest when the process ends. A refusal of any of them (an older Windows,
// another program holding the volume) leaves the write to go on as before.
#ifndef M770B_ASPI_UNITISOLATION_H
#define M770B_ASPI_UNITISOLATION_H

#include "aspi/AdapterTable.h"
#include "aspi/ExecRequest.h"

// Whether the command may change the unit: it carries data to it, or it is vendor-specific
// (operation codes 0xC0 to 0xFF) and brings no data back. A command that only reads (INQUIRY,
// a loader's identity or checksum) never isolates a unit, so a drive that is only looked at is
// never locked; the loader's erase and chunk writes do, before the erase reaches it.
bool ChangesUnit(const TExecRequest &request);

// Keeps other programs off the unit as above, once; a unit reached through its port (no class
// driver owns it) needs nothing. Runs on the thread that carries the unit's commands.
void IsolateUnit(TDeviceBackEnd &backEnd, TScsiDevice &device);

#endif
