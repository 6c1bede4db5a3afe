// One SCSI command as a virtual device sees it, and what the device answers. Plain C++, free of
// any ASPI or Windows type, so that every host interface (our ASPI manager DLL, a pass-through
// back end) can put its own request blocks in front of the same device.
#ifndef M770B_SIM_LOADER_SCSICOMMAND_H
#define M770B_SIM_LOADER_SCSICOMMAND_H

#include <array>
#include <cstddef>
#include <cstdint>

enum class DataDirection { None, In, Out };

// The command: its CDB and its data phase. For DataDirection::In the device writes at most
// dataLength bytes into dataIn; for Out it reads dataLength bytes from dataOut.
struct ScsiCommand {
    const uint8_t *cdb = nullptr;
    size_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    uint8_t *dataIn = nullptr;
    const uint8_t *dataOut = nullptr;
    uint32_t dataLength = 0;
};

// SCSI status bytes the devices answer.
constexpr uint8_t ScsiStatusGood = 0x00;
constexpr uint8_t ScsiStatusCheckCondition = 0x02;

// Faults of the data phase itself, which the host adapter (not the target status) reports.
enum class TransferFault {
    None,
    Overrun,       // the command moves more bytes than the host's buffer holds
    WrongDirection // the host's data direction does not fit the command
};

constexpr size_t SenseLength = 18;
using SenseData = std::array<uint8_t, SenseLength>;

struct ScsiOutcome {
    uint8_t status = ScsiStatusGood;
    SenseData sense{};        // fixed format; all zeros after GOOD
    uint32_t transferred = 0; // data bytes actually moved
    TransferFault fault = TransferFault::None;
};

// Fixed-format sense data: response code 0x70, the key in byte 2, additional length 10 in byte
// 7, ASC in byte 12, ASCQ in byte 13.
SenseData MakeFixedSense(uint8_t key, uint8_t asc, uint8_t ascq);

// A CHECK CONDITION outcome with that sense.
ScsiOutcome CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq);

// Sense keys and codes used by the virtual devices.
constexpr uint8_t SenseKeyIllegalRequest = 0x05;
constexpr uint8_t SenseKeyVendor = 0x09;
constexpr uint8_t AscInvalidOpcode = 0x20;
constexpr uint8_t AscInvalidCdbField = 0x24;
constexpr uint8_t AscEraseFailure = 0x82;
constexpr uint8_t AscFlashNotErased = 0x84;
constexpr uint8_t AscFlashWriteError = 0x85;
constexpr uint8_t AscFirmwareDataError = 0x87;

// Opcodes.
constexpr uint8_t OpTestUnitReady = 0x00;
constexpr uint8_t OpInquiry = 0x12;
constexpr uint8_t OpEraseFlash = 0xE1;
constexpr uint8_t OpWriteChunk = 0xE2;
constexpr uint8_t OpReadIdentity = 0xE3;
constexpr uint8_t OpReadChecksum = 0xE4;

// The data direction a command of this opcode has on a loader; `known` is false for opcodes the
// loader does not implement (their direction cannot be judged).
struct ExpectedDirectionResult {
    bool known;
    DataDirection direction;
};
ExpectedDirectionResult ExpectedDirection(uint8_t opcode);

#endif
