#include "scsi/RequestBlocks.h"

BYTE HostAdapterId;
DWORD HostAdapterMaxTransfer;

SRB_GDEVBlock DeviceTypeRequest;

SRB_ExecSCSICmd SharedRequest;
HANDLE SharedRequestEvent;
BYTE SharedDataBuffer[DataBufferSize];

SRB_ExecSCSICmd ChunkRequest[ChunkSlotCount];
BYTE ChunkBuffer[ChunkSlotCount][DataBufferSize];
