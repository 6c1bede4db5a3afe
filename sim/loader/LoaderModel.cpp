#include "sim/loader/LoaderModel.h"

#include <algorithm>
#include <cstring>

namespace {

// The CDB layout of each command the devices know: its length and the bytes that must hold a
// fixed value (bit i of `variable` set: byte i is a parameter and not compared).
struct CdbRule {
    uint8_t opcode;
    size_t length;
    std::array<uint8_t, 12> fixed;
    uint16_t variable;
};

constexpr CdbRule CdbRules[] = {
    {OpTestUnitReady, 6, {0x00, 0, 0, 0, 0, 0}, 0},
    {OpInquiry, 6, {0x12, 0, 0, 0, 0, 0}, 1u << 4},
    {OpEraseFlash, 12, {0xE1, 0x04, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {OpWriteChunk, 12, {0xE2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x03FE}, // bytes 1-9
    {OpReadIdentity, 12, {0xE3, 0x00, 0x00, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0}, 0},
    {OpReadChecksum, 12, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
};

bool CdbFits(const ScsiCommand &command) {
    for (const CdbRule &rule : CdbRules) {
        if (rule.opcode != command.cdb[0])
            continue;
        if (command.cdbLength != rule.length)
            return false;
        for (size_t i = 1; i < rule.length; ++i)
            if (!(rule.variable & (1u << i)) && command.cdb[i] != rule.fixed[i])
                return false;
        return true;
    }
    return true;
}

// Moves `length` bytes of answer into the host's buffer: never more than the buffer holds, and
// never a byte beyond what the command moves.
ScsiOutcome DataIn(const ScsiCommand &command, const uint8_t *answer, uint32_t length) {
    ScsiOutcome outcome;
    uint32_t room = command.dataIn ? command.dataLength : 0;
    outcome.transferred = std::min(room, length);
    if (outcome.transferred)
        std::memcpy(command.dataIn, answer, outcome.transferred);
    if (room < length)
        outcome.fault = TransferFault::Overrun;
    return outcome;
}

// Checks that come before any command runs: the data direction and the CDB layout. Returns true
// and fills `outcome` when the command is refused.
bool RefuseCommand(const ScsiCommand &command, ScsiOutcome &outcome) {
    if (!command.cdb || command.cdbLength == 0) {
        outcome = CheckCondition(SenseKeyIllegalRequest, AscInvalidCdbField, 0);
        return true;
    }
    ExpectedDirectionResult expected = ExpectedDirection(command.cdb[0]);
    if (expected.known && expected.direction != command.direction) {
        outcome = ScsiOutcome{};
        outcome.fault = TransferFault::WrongDirection;
        return true;
    }
    if (!CdbFits(command)) {
        outcome = CheckCondition(SenseKeyIllegalRequest, AscInvalidCdbField, 0);
        return true;
    }
    return false;
}

uint32_t BigEndian32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
           uint32_t(bytes[3]);
}

} // namespace

uint16_t LoaderChecksum(const uint8_t *flash) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < FlashSize - 2; ++i)
        sum += flash[i];
    return static_cast<uint16_t>(sum);
}

ScsiOutcome ExecutePlainCommand(const InquiryData &inquiry, const ScsiCommand &command) {
    ScsiOutcome outcome;
    if (RefuseCommand(command, outcome))
        return outcome;
    switch (command.cdb[0]) {
    case OpTestUnitReady:
        return outcome;
    case OpInquiry: {
        uint32_t allocation = command.cdb[4];
        return DataIn(command, inquiry.data(),
                      std::min<uint32_t>(allocation, static_cast<uint32_t>(InquiryLength)));
    }
    default:
        return CheckCondition(SenseKeyIllegalRequest, AscInvalidOpcode, 0);
    }
}

TLoaderModel::TLoaderModel(const InquiryData &inquiry, const IdentityData &identity,
                           const std::string &flashPath)
    : inquiry_(inquiry), identity_(identity), flash_(flashPath) {}

ScsiOutcome TLoaderModel::Execute(const ScsiCommand &command) {
    ScsiOutcome outcome;
    if (RefuseCommand(command, outcome))
        return outcome;
    switch (command.cdb[0]) {
    case OpEraseFlash:
        return Erase();
    case OpWriteChunk:
        return WriteChunk(command);
    case OpReadIdentity:
        return DataIn(command, identity_.data(), IdentityLength);
    case OpReadChecksum: {
        uint16_t sum = LoaderChecksum(flash_.Bytes().data());
        const uint8_t answer[2] = {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)};
        return DataIn(command, answer, sizeof answer);
    }
    default:
        return ExecutePlainCommand(inquiry_, command);
    }
}

ScsiOutcome TLoaderModel::Erase() {
    bool written = flash_.Fill(0xFF);
    armed_ = true;
    nextOffset_ = 0;
    if (!written)
        return CheckCondition(SenseKeyVendor, AscEraseFailure, 0);
    return ScsiOutcome{};
}

ScsiOutcome TLoaderModel::WriteChunk(const ScsiCommand &command) {
    if (!armed_)
        return CheckCondition(SenseKeyVendor, AscFlashNotErased, 0);
    const uint8_t *cdb = command.cdb;
    uint32_t offset = BigEndian32(cdb + 2);
    uint32_t length = BigEndian32(cdb + 6);
    bool last = offset == FlashSize - ChunkLength;
    uint8_t flag = last ? 0x00 : 0x01;
    if (offset != nextOffset_ || length != ChunkLength || command.dataLength != ChunkLength ||
        !command.dataOut || cdb[1] != flag)
        return CheckCondition(SenseKeyVendor, AscFirmwareDataError, 0);

    bool written = flash_.Write(offset, command.dataOut, ChunkLength);
    nextOffset_ += ChunkLength;
    if (last)
        armed_ = false;
    ScsiOutcome outcome;
    outcome.transferred = ChunkLength;
    if (!written)
        return CheckCondition(SenseKeyVendor, AscFlashWriteError, 0);
    return outcome;
}
