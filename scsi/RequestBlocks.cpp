#include "scsi/RequestBlocks.h"

BYTE HostAdapterId;

SRB_GDEVBlock DeviceTypeRequest;

SRB_ExecSCSICmd SharedRequest;
HANDLE SharedRequestEvent;
BYTE SharedDataBuffer[DataBufferSize];

SRB_ExecSCSICmd ChunkRequest[ChunkSlotCount];
BYTE ChunkBuffer[ChunkSlotCount][DataBufferSize];
