// Every SCSI command of the loader's command set as the drive must receive it, written out from
// the drive's command tables: the block and buffer it travels in, its flags, its length and its
// CDB byte for byte. Each case sends its command to target 5.
#ifndef M770B_TESTS_UNIT_SCSI_COMMANDCASES_H
#define M770B_TESTS_UNIT_SCSI_COMMANDCASES_H

#include <functional>
#include <string>
#include <vector>

#include "scsi/wnaspi32.h"

struct CommandCase {
    std::string name;
    std::function<int()> send;
    SRB_ExecSCSICmd *block;
    BYTE flags;
    BYTE *buffer;
    DWORD byteCount;
    std::vector<BYTE> cdb; // 6 or 12 bytes
    bool judged;           // the command reports the status of its request
};

constexpr BYTE CaseTarget = 5;

std::vector<CommandCase> AllCommandCases();

std::ostream &operator<<(std::ostream &out, const CommandCase &command);

#endif
