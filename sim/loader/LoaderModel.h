// A ZD-M770B drive in firmware-loader mode, without any host interface: it takes one SCSI
// command and answers status, sense and data, as the drive behind the SCSI bus would.
//
// The loader's rules (the host side must meet them, or it would brick a real drive):
// - 0xE1 erase sets every flash byte to 0xFF and arms the write sequence at offset 0.
// - 0xE2 chunk writes come as 0x8000 bytes at offsets 0x00000, 0x08000 ... 0x38000 in order,
//   more-follows flag 1 on all but the last, 0 on the last. Without an armed erase: 09-84-00.
//   Out of order, wrong length (CDB bytes 6-9 or the data) or wrong flag: 09-87-00, and the
//   sequence stays where it was. The last chunk ends the sequence.
// - 0xE3 returns the 32 identity bytes, 0xE4 the 2 checksum bytes (LoaderChecksum, high byte
//   first), INQUIRY min(allocation length, 36) bytes; TEST UNIT READY is always GOOD.
// - Unknown opcodes: 05-20-00; a CDB of the wrong length or with a wrong fixed byte: 05-24-00.
// - A data-in command writes exactly the bytes it moves and leaves the rest of the buffer alone.
// Not thread-safe: the host interface serialises the commands of one drive.
#ifndef M770B_SIM_LOADER_LOADERMODEL_H
#define M770B_SIM_LOADER_LOADERMODEL_H

#include "sim/loader/FlashFile.h"
#include "sim/loader/ScsiCommand.h"

#include <array>
#include <cstdint>
#include <string>

constexpr size_t InquiryLength = 36;
constexpr size_t IdentityLength = 32;
constexpr uint32_t ChunkLength = 0x8000;
constexpr uint32_t ChunkCount = FlashSize / ChunkLength;

using InquiryData = std::array<uint8_t, InquiryLength>;
using IdentityData = std::array<uint8_t, IdentityLength>;

// The checksum the loader reports: the 16-bit sum (modulo 0x10000) of flash bytes
// 0x00000..0x3FFFD. `flash` points to FlashSize bytes; bytes 0x3FFFE and 0x3FFFF, where an image
// carries its expected checksum, are not part of the sum.
uint16_t LoaderChecksum(const uint8_t *flash);

// A device that only answers TEST UNIT READY and INQUIRY (a disk, another CD-ROM, the drive in
// normal mode); every other opcode is refused with 05-20-00.
ScsiOutcome ExecutePlainCommand(const InquiryData &inquiry, const ScsiCommand &command);

class TLoaderModel {
  public:
    // Throws std::runtime_error when the flash file cannot be opened.
    TLoaderModel(const InquiryData &inquiry, const IdentityData &identity,
                 const std::string &flashPath);

    ScsiOutcome Execute(const ScsiCommand &command);

    const std::vector<uint8_t> &Flash() const { return flash_.Bytes(); }
    bool WriteArmed() const { return armed_; }
    uint32_t NextChunkOffset() const { return nextOffset_; }

  private:
    ScsiOutcome Erase();
    ScsiOutcome WriteChunk(const ScsiCommand &command);

    InquiryData inquiry_;
    IdentityData identity_;
    TFlashFile flash_;
    bool armed_ = false;
    uint32_t nextOffset_ = 0;
};

#endif
