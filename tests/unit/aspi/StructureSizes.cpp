// The layouts that client, manager and Windows share, checked at compile time for the width
// being built (both widths are built, so both are checked).
#include "aspi/ScsiIoctl.h"
#include "scsi/wnaspi32.h"

#include <cstddef>

namespace {

constexpr size_t P = sizeof(void *);

// ASPI for Win32 packs its blocks to bytes; pointers widen with the process.
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "SRB_BufLen");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "SRB_BufPointer");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 16 + P, "SRB_SenseLen");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 18 + P, "SRB_HaStat");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 19 + P, "SRB_TargStat");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 20 + P, "SRB_PostProc");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 40 + 2 * P, "CDBByte");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 56 + 2 * P, "SenseArea");
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42, "HA_Unique");
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10, "SRB_DeviceType");
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8, "SRB_ToAbort");

// The pass-through header: 44 bytes in a 32-bit process, 56 in a 64-bit one.
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == 12, "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == (P == 4 ? 20 : 24), "Offset");
static_assert(sizeof(SCSI_PASS_THROUGH) == (P == 4 ? 44 : 56), "SCSI_PASS_THROUGH");

} // namespace
