#include "sim/aspi/RequestCheck.h"

#include "sim/loader/ScsiCommand.h"

namespace {

constexpr BYTE DirectionBits = SRB_DIR_IN | SRB_DIR_OUT;
constexpr BYTE NotifyBits = SRB_EVENT_NOTIFY | SRB_POSTING;

bool BadTarget(const SRB_ExecSCSICmd &srb) { return srb.SRB_Target > 7; }
bool BadLun(const SRB_ExecSCSICmd &srb) { return srb.SRB_Lun != 0; }

// Exactly one way of being told about completion, and something to tell.
bool BadNotify(const SRB_ExecSCSICmd &srb) {
    BYTE notify = srb.SRB_Flags & NotifyBits;
    return (notify != SRB_EVENT_NOTIFY && notify != SRB_POSTING) || !srb.SRB_PostProc;
}

bool BadCdbLength(const SRB_ExecSCSICmd &srb) {
    BYTE length = srb.SRB_CDBLen;
    return length != 6 && length != 10 && length != 12 && length != 16;
}

bool BadDirection(const SRB_ExecSCSICmd &srb) {
    BYTE bits = srb.SRB_Flags & DirectionBits;
    if (bits == DirectionBits)
        return true;
    ExpectedDirectionResult expected = ExpectedDirection(srb.CDBByte[0]);
    if (!expected.known)
        return false;
    switch (expected.direction) {
    case DataDirection::None:
        return bits != 0;
    case DataDirection::In:
        return bits != SRB_DIR_IN;
    case DataDirection::Out:
        return bits != SRB_DIR_OUT;
    }
    return true;
}

// A command without data carries no buffer; a data command carries one.
bool BadBuffer(const SRB_ExecSCSICmd &srb) {
    if ((srb.SRB_Flags & DirectionBits) == 0)
        return srb.SRB_BufLen != 0;
    return srb.SRB_BufLen != 0 && !srb.SRB_BufPointer;
}

struct BlockRule {
    const char *reason;
    BYTE status;
    bool (*refuses)(const SRB_ExecSCSICmd &);
};

constexpr BlockRule BlockRules[] = {
    {"target", SS_INVALID_SRB, BadTarget},       {"lun", SS_INVALID_SRB, BadLun},
    {"notify", SS_INVALID_SRB, BadNotify},       {"cdblen", SS_INVALID_SRB, BadCdbLength},
    {"direction", SS_INVALID_SRB, BadDirection}, {"buflen", SS_INVALID_SRB, BadBuffer},
};

} // namespace

BlockRefusal CheckExecuteBlock(const SRB_ExecSCSICmd &srb) {
    for (const BlockRule &rule : BlockRules)
        if (rule.refuses(srb))
            return {rule.reason, rule.status};
    return {nullptr, SS_PENDING};
}
