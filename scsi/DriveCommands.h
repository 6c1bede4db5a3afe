// The commands that the program sends to a ZD-M770B in firmware-loader mode. Each addresses
// HostAdapterId, the given target and LUN 0. Unless stated otherwise they return 0 on success
// and 1 on failure, after the failure has been reported.
#ifndef M770B_SCSI_DRIVECOMMANDS_H
#define M770B_SCSI_DRIVECOMMANDS_H

#include "scsi/wnaspi32.h"

// 1 when the device type request completes with SS_COMP and the device is of the CD-ROM class.
int GetDeviceType(BYTE target);

// TEST UNIT READY and INQUIRY do not judge their answer: 1 only when nothing could be sent.
int TestUnitReady(BYTE target);
int ScsiInquiry(BYTE target, DWORD byteCount);

// Vendor commands of the loader. ReadDriveIdentity leaves 32 bytes, ReadFlashChecksum 2 bytes at
// the start of SharedDataBuffer.
int ReadDriveIdentity(BYTE target);
int EraseFlash(BYTE target);
// Sends ChunkBuffer[slot - 1] (0x8000 bytes) through ChunkRequest[slot - 1]; slot is 1..8.
int WriteFlashChunk(int slot, BYTE target, DWORD offset, BYTE moreFollows);
int ReadFlashChecksum(BYTE target);

#endif
