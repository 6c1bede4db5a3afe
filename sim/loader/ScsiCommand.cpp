#include "sim/loader/ScsiCommand.h"

SenseData MakeFixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
    SenseData sense{};
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

ScsiOutcome CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
    ScsiOutcome outcome;
    outcome.status = ScsiStatusCheckCondition;
    outcome.sense = MakeFixedSense(key, asc, ascq);
    return outcome;
}

ExpectedDirectionResult ExpectedDirection(uint8_t opcode) {
    switch (opcode) {
    case OpTestUnitReady:
    case OpEraseFlash:
        return {true, DataDirection::None};
    case OpInquiry:
    case OpReadIdentity:
    case OpReadChecksum:
        return {true, DataDirection::In};
    case OpWriteChunk:
        return {true, DataDirection::Out};
    default:
        return {false, DataDirection::None};
    }
}
