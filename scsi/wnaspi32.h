// ASPI for Win32: the request blocks, constants and entry points of wnaspi32.dll, field for field
// as ASPI publishes them. Written for this project; shared by the program, the virtual loader
// drive and our own ASPI manager.
//
// One declaration is our own: SENSE_LEN is 16, so SenseArea holds SENSE_LEN + 2 = 18 bytes and
// every request block has room for the 16 bytes of sense data that we ask for.
#ifndef M770B_SCSI_WNASPI32_H
#define M770B_SCSI_WNASPI32_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SENSE_LEN 16

// ASPI commands (SRB_Cmd).
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SC_RESET_DEV 0x04
#define SC_SET_HA_PARMS 0x05
#define SC_GET_DISK_INFO 0x06
#define SC_RESCAN_SCSI_BUS 0x07
#define SC_GETSET_TIMEOUTS 0x08

// Request flags (SRB_Flags).
#define SRB_POSTING 0x01
#define SRB_ENABLE_RESIDUAL_COUNT 0x04
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40
#define SRB_DIR_SCSI 0x00

// ASPI status (SRB_Status, and the value that SendASPI32Command returns).
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_OLD_MANAGER 0xE1
#define SS_BUFFER_ALIGN 0xE1
#define SS_ILLEGAL_MODE 0xE2
#define SS_SECURITY_VIOLATION 0xE2
#define SS_NO_ASPI 0xE3
#define SS_FAILED_INIT 0xE4
#define SS_ASPI_IS_BUSY 0xE5
#define SS_BUFFER_TO_BIG 0xE6
#define SS_BUFFER_TOO_BIG 0xE6
#define SS_MISMATCHED_COMPONENTS 0xE7
#define SS_NO_ADAPTERS 0xE8
#define SS_INSUFFICIENT_RESOURCES 0xE9
#define SS_ASPI_IS_SHUTDOWN 0xEA
#define SS_BAD_INSTALL 0xEB

// Host adapter status (SRB_HaStat).
#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_MESSAGE_REJECT 0x0D
#define HASTAT_BUS_RESET 0x0E
#define HASTAT_PARITY_ERROR 0x0F
#define HASTAT_REQUEST_SENSE_FAILED 0x10
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12
#define HASTAT_BUS_FREE 0x13
#define HASTAT_PHASE_ERR 0x14

// SCSI peripheral device types (SRB_DeviceType).
#define DTYPE_DASD 0x00
#define DTYPE_SEQD 0x01
#define DTYPE_PRNT 0x02
#define DTYPE_PROC 0x03
#define DTYPE_WORM 0x04
#define DTYPE_CDROM 0x05
#define DTYPE_SCAN 0x06
#define DTYPE_OPTI 0x07
#define DTYPE_JUKE 0x08
#define DTYPE_COMM 0x09
#define DTYPE_UNKNOWN 0x1F

#pragma pack(push, 1)

// The header that every request block begins with.
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
} SRB_Header, *PSRB_Header;

// SC_HA_INQUIRY
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
} SRB_HAInquiry, *PSRB_HAInquiry;

// SC_GET_DEV_TYPE
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
} SRB_GDEVBlock, *PSRB_GDEVBlock;

// SC_EXEC_SCSI_CMD
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE *SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void *SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[SENSE_LEN + 2];
} SRB_ExecSCSICmd, *PSRB_ExecSCSICmd;

// SC_ABORT_SRB
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void *SRB_ToAbort;
} SRB_Abort, *PSRB_Abort;

// SC_RESET_DEV
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_Rsvd1[12];
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void *SRB_PostProc;
    BYTE SRB_Rsvd2[36];
} SRB_BusDeviceReset, *PSRB_BusDeviceReset;

// SC_GET_DISK_INFO
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DriveFlags;
    BYTE SRB_Int13HDriveInfo;
    BYTE SRB_Heads;
    BYTE SRB_Sectors;
    BYTE SRB_Rsvd1[10];
} SRB_GetDiskInfo, *PSRB_GetDiskInfo;

#pragma pack(pop)

typedef void *LPSRB;

// The two entry points of wnaspi32.dll.
DWORD __cdecl GetASPI32SupportInfo(void);
DWORD __cdecl SendASPI32Command(LPSRB srb);

// Their types, for binding them at run time with GetProcAddress.
typedef DWORD(__cdecl *LPGETASPI32SUPPORTINFO)(void);
typedef DWORD(__cdecl *LPSENDASPI32COMMAND)(LPSRB srb);

#ifdef __cplusplus
}

// The block sizes are part of the interface between the program and the manager.
static_assert(sizeof(SRB_Header) == 8, "SRB header");
static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry");
static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock");
static_assert(sizeof(SRB_ExecSCSICmd) == 74 + 2 * sizeof(void *), "SRB_ExecSCSICmd");
static_assert(sizeof(SRB_ExecSCSICmd::SenseArea) == 18, "SenseArea");
#endif

#endif
