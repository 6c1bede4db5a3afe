// The SCSI port driver's I/O control interface as MinGW-w64 declares it (ntddscsi.h), with the
// structure sizes this manager relies on for both widths.
#ifndef M770B_ASPI_SCSIIOCTL_H
#define M770B_ASPI_SCSIIOCTL_H

// The order matters: ntddscsi.h needs the types of windows.h and the macros of winioctl.h.
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>

// A 32-bit process hands Windows the 32-bit layout; WOW64 translates it for a 64-bit kernel.
static_assert(sizeof(SCSI_PASS_THROUGH) == (sizeof(void *) == 4 ? 44 : 56), "SCSI_PASS_THROUGH");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == (sizeof(void *) == 4 ? 28 : 36), "Cdb");
static_assert(sizeof(SCSI_ADDRESS) == 8, "SCSI_ADDRESS");
static_assert(sizeof(SCSI_BUS_DATA) == 8, "SCSI_BUS_DATA");
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4, "SCSI_ADAPTER_BUS_INFO");
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12, "SCSI_INQUIRY_DATA");
static_assert(IOCTL_SCSI_PASS_THROUGH == 0x4D004, "IOCTL_SCSI_PASS_THROUGH");
static_assert(IOCTL_SCSI_GET_INQUIRY_DATA == 0x4100C, "IOCTL_SCSI_GET_INQUIRY_DATA");
static_assert(IOCTL_SCSI_GET_ADDRESS == 0x41018, "IOCTL_SCSI_GET_ADDRESS");

#endif
