// Sample Firmware.bin images for tests and dry runs: 256 KiB of deterministic pseudo-random
// bytes from a seed, a revision text at 0x198, and in the last two bytes the checksum that the
// virtual loader reports for that image (high byte at 0x3FFFE, low byte at 0x3FFFF).
#ifndef M770B_TOOLS_FIRMWARE_SAMPLEFIRMWARE_H
#define M770B_TOOLS_FIRMWARE_SAMPLEFIRMWARE_H

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t SampleImageSize = 0x40000;
constexpr uint32_t RevisionOffset = 0x198;
constexpr uint32_t ChecksumOffset = 0x3FFFE;

// The image; `revision` has at most four characters (fewer are followed by zero bytes). Throws
// std::invalid_argument for a longer revision.
std::vector<uint8_t> MakeSampleFirmware(uint32_t seed, const std::string &revision);

// Writes MakeSampleFirmware(seed, revision) to `path`; false when the file cannot be written.
bool WriteSampleFirmware(const std::string &path, uint32_t seed, const std::string &revision);

#endif
