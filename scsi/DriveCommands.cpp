#include "scsi/DriveCommands.h"

#include <cstring>

#include "scsi/RequestBlocks.h"
#include "scsi/RequestExecution.h"
#include "scsi/RequestStatus.h"

namespace {

// Request flags: every request signals its event; the data phase, where there is one.
constexpr BYTE NoDataFlags = SRB_EVENT_NOTIFY;                // 0x40
constexpr BYTE DataInFlags = SRB_DIR_IN | SRB_EVENT_NOTIFY;   // 0x48
constexpr BYTE DataOutFlags = SRB_DIR_OUT | SRB_EVENT_NOTIFY; // 0x50

constexpr DWORD IdentityLength = 32;
constexpr DWORD ChecksumLength = 2;

// The command descriptor blocks. The bytes that vary per call (INQUIRY's allocation length, the
// chunk's position) are 0 here and filled by the helpers below.
using Cdb6 = BYTE[6];
using Cdb12 = BYTE[12];
constexpr Cdb6 TestUnitReadyCdb = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb6 InquiryCdb = {0x12, 0x00, 0x00, 0x00, 0x00, 0x00};
// Loader vendor commands. Bytes 6-9 are a big-endian transfer length where there is one.
constexpr Cdb12 EraseFlashCdb = {0xE1, 0x04, 0xFF, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb12 WriteChunkCdb = {0xE2, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x80, 0x00, 0x00, 0x00};
constexpr Cdb12 ReadIdentityCdb = {0xE3, 0x00, 0x00, 0x10, 0x01, 0x80,
                                   0x00, 0x00, 0x00, 0x20, 0x00, 0x00};
constexpr Cdb12 ReadChecksumCdb = {0xE4, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// INQUIRY's allocation length is one byte: only the low 8 bits of the count reach the drive.
void SetAllocationLength(Cdb6 &cdb, DWORD byteCount) {
    cdb[4] = static_cast<BYTE>(byteCount);
}

// The chunk's flash offset (bits 23-0, most significant byte first; byte 2 stays 0) and whether
// more chunks follow (byte 1).
void SetChunkPosition(Cdb12 &cdb, DWORD offset, BYTE moreFollows) {
    cdb[1] = moreFollows;
    cdb[3] = static_cast<BYTE>(offset >> 16);
    cdb[4] = static_cast<BYTE>(offset >> 8);
    cdb[5] = static_cast<BYTE>(offset);
}

template <size_t N>
int ExecuteShared(BYTE target, BYTE flags, BYTE *buffer, DWORD byteCount, const BYTE (&cdb)[N]) {
    return ExecuteRequest(SharedRequest, target, flags, buffer, byteCount, cdb, N);
}

// A loader command succeeds when its request does; its failure has been reported.
template <size_t N>
int ExecuteJudged(SRB_ExecSCSICmd &request, BYTE target, BYTE flags, BYTE *buffer, DWORD byteCount,
                  const BYTE (&cdb)[N]) {
    if (ExecuteRequest(request, target, flags, buffer, byteCount, cdb, N) != 0) {
        return 1;
    }
    return ReportRequestStatus(request);
}

} // namespace

int GetDeviceType(BYTE target) {
    return RequestDeviceType(target) == SS_COMP && DeviceTypeRequest.SRB_DeviceType == DTYPE_CDROM;
}

int TestUnitReady(BYTE target) {
    return ExecuteShared(target, NoDataFlags, nullptr, 0, TestUnitReadyCdb);
}

int ScsiInquiry(BYTE target, DWORD byteCount) {
    Cdb6 cdb;
    std::memcpy(cdb, InquiryCdb, sizeof cdb);
    SetAllocationLength(cdb, byteCount);
    return ExecuteShared(target, DataInFlags, SharedDataBuffer, byteCount, cdb);
}

int ReadDriveIdentity(BYTE target) {
    return ExecuteJudged(SharedRequest, target, DataInFlags, SharedDataBuffer, IdentityLength,
                         ReadIdentityCdb);
}

// Judged in full like every loader command: an adapter fault is a failed erase too, and the
// loader's own refusal is shown to the user.
int EraseFlash(BYTE target) {
    return ExecuteJudged(SharedRequest, target, NoDataFlags, nullptr, 0, EraseFlashCdb);
}

int WriteFlashChunk(int slot, BYTE target, DWORD offset, BYTE moreFollows) {
    Cdb12 cdb;
    std::memcpy(cdb, WriteChunkCdb, sizeof cdb);
    SetChunkPosition(cdb, offset, moreFollows);
    return ExecuteJudged(ChunkRequest[slot - 1], target, DataOutFlags, ChunkBuffer[slot - 1],
                         DataBufferSize, cdb);
}

int ReadFlashChecksum(BYTE target) {
    return ExecuteJudged(SharedRequest, target, DataInFlags, SharedDataBuffer, ChecksumLength,
                         ReadChecksumCdb);
}
