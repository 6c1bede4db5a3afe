#include "tools/firmware/SampleFirmware.h"

#include "sim/loader/LoaderModel.h"

#include <cstdio>
#include <stdexcept>

static_assert(SampleImageSize == FlashSize, "a sample image fills the loader's flash");

std::vector<uint8_t> MakeSampleFirmware(uint32_t seed, const std::string &revision) {
    if (revision.size() > 4)
        throw std::invalid_argument("a revision has at most four characters");
    std::vector<uint8_t> image(SampleImageSize);
    // SplitMix64: every seed, zero included, gives a well-mixed stream.
    uint64_t state = seed;
    for (uint32_t i = 0; i < SampleImageSize; i += 8) {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (int b = 0; b < 8; ++b)
            image[i + b] = static_cast<uint8_t>(z >> (8 * b));
    }
    for (uint32_t i = 0; i < 4; ++i)
        image[RevisionOffset + i] = i < revision.size() ? static_cast<uint8_t>(revision[i]) : 0;
    uint16_t checksum = LoaderChecksum(image.data());
    image[ChecksumOffset] = static_cast<uint8_t>(checksum >> 8);
    image[ChecksumOffset + 1] = static_cast<uint8_t>(checksum);
    return image;
}

bool WriteSampleFirmware(const std::string &path, uint32_t seed, const std::string &revision) {
    std::vector<uint8_t> image = MakeSampleFirmware(seed, revision);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    return std::fclose(file) == 0 && written;
}
