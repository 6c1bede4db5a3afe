// The static request blocks and data buffers that the program hands to the ASPI manager.
// They live for the whole process; nothing is allocated per request.
#ifndef M770B_SCSI_REQUESTBLOCKS_H
#define M770B_SCSI_REQUESTBLOCKS_H

#include "scsi/wnaspi32.h"

constexpr DWORD DataBufferSize = 0x8000;
constexpr int ChunkSlotCount = 8;

// The host adapter that every request addresses: the adapter being searched, and after
// discovery the one on which the loaders were found.
extern BYTE HostAdapterId;
// The largest transfer, in bytes, that adapter HostAdapterId takes in one request, as its answer
// to SC_HA_INQUIRY published it; 0 where the manager does not tell or the adapter did not answer.
// Written by InquireHostAdapter, so after discovery it is that of the loaders' adapter.
extern DWORD HostAdapterMaxTransfer;

// The device type request of GetDeviceType.
extern SRB_GDEVBlock DeviceTypeRequest;

// The block shared by TEST UNIT READY, INQUIRY, identity, erase and checksum, and its data-in
// buffer. The buffer is never cleared by the transport: what a command does not transfer keeps
// what an earlier command left there.
extern SRB_ExecSCSICmd SharedRequest;
extern BYTE SharedDataBuffer[DataBufferSize];
// The event of the request now in SharedRequest: valid from its creation to its close within one
// command, null otherwise.
extern HANDLE SharedRequestEvent;

// Chunk-write slot k (1..8) uses ChunkRequest[k - 1] and ChunkBuffer[k - 1] and nothing else.
extern SRB_ExecSCSICmd ChunkRequest[ChunkSlotCount];
extern BYTE ChunkBuffer[ChunkSlotCount][DataBufferSize];

#endif
