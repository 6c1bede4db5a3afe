#include "tests/unit/scsi/CommandCases.h"

#include <ostream>

#include "scsi/DriveCommands.h"
#include "scsi/RequestBlocks.h"

std::vector<CommandCase> AllCommandCases() {
    std::vector<CommandCase> cases = {
        {"TestUnitReady",
         [] { return TestUnitReady(CaseTarget); },
         &SharedRequest,
         0x40,
         nullptr,
         0,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         false},
        {"ScsiInquiry(36)",
         [] { return ScsiInquiry(CaseTarget, 36); },
         &SharedRequest,
         0x48,
         SharedDataBuffer,
         36,
         {0x12, 0x00, 0x00, 0x00, 0x24, 0x00},
         false},
        // Only the low 8 bits of the count fit into the CDB; the block keeps all of it.
        {"ScsiInquiry(300)",
         [] { return ScsiInquiry(CaseTarget, 300); },
         &SharedRequest,
         0x48,
         SharedDataBuffer,
         300,
         {0x12, 0x00, 0x00, 0x00, 0x2C, 0x00},
         false},
        {"ReadDriveIdentity",
         [] { return ReadDriveIdentity(CaseTarget); },
         &SharedRequest,
         0x48,
         SharedDataBuffer,
         32,
         {0xE3, 0x00, 0x00, 0x10, 0x01, 0x80, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00},
         true},
        {"EraseFlash",
         [] { return EraseFlash(CaseTarget); },
         &SharedRequest,
         0x40,
         nullptr,
         0,
         {0xE1, 0x04, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         true},
        {"ReadFlashChecksum",
         [] { return ReadFlashChecksum(CaseTarget); },
         &SharedRequest,
         0x48,
         SharedDataBuffer,
         2,
         {0xE4, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
         true},
    };
    // The eight chunk writes of one update, in the order the update sends them.
    const BYTE offsets[8][3] = {{0x00, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x01, 0x00, 0x00},
                                {0x01, 0x80, 0x00}, {0x02, 0x00, 0x00}, {0x02, 0x80, 0x00},
                                {0x03, 0x00, 0x00}, {0x03, 0x80, 0x00}};
    for (int slot = 1; slot <= 8; ++slot) {
        const DWORD offset = 0x8000 * (slot - 1);
        const BYTE more = slot < 8 ? 0x01 : 0x00;
        const BYTE *o = offsets[slot - 1];
        cases.push_back({"WriteFlashChunk(" + std::to_string(slot) + ")",
                         [=] { return WriteFlashChunk(slot, CaseTarget, offset, more); },
                         &ChunkRequest[slot - 1],
                         0x50,
                         ChunkBuffer[slot - 1],
                         0x8000,
                         {0xE2, more, 0x00, o[0], o[1], o[2], 0x00, 0x00, 0x80, 0x00, 0x00, 0x00},
                         true});
    }
    return cases;
}

std::ostream &operator<<(std::ostream &out, const CommandCase &command) {
    return out << command.name;
}
