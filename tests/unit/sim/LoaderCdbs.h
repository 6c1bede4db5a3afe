// The loader's CDBs as the program sends them, for the simulator's tests.
#ifndef M770B_TESTS_UNIT_SIM_LOADERCDBS_H
#define M770B_TESTS_UNIT_SIM_LOADERCDBS_H

#include <cstdint>
#include <vector>

using Cdb = std::vector<uint8_t>;

const Cdb TestUnitReadyCdb = {0x00, 0, 0, 0, 0, 0};
const Cdb Inquiry36Cdb = {0x12, 0, 0, 0, 36, 0};
const Cdb EraseCdb = {0xE1, 0x04, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Cdb IdentityCdb = {0xE3, 0, 0, 0x10, 0x01, 0x80, 0, 0, 0, 0x20, 0, 0};
const Cdb ChecksumCdb = {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

inline Cdb ChunkCdb(uint32_t offset, uint8_t flag, uint32_t length = 0x8000) {
    return {0xE2,
            flag,
            static_cast<uint8_t>(offset >> 24),
            static_cast<uint8_t>(offset >> 16),
            static_cast<uint8_t>(offset >> 8),
            static_cast<uint8_t>(offset),
            static_cast<uint8_t>(length >> 24),
            static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length),
            0,
            0};
}

// The CDB of chunk k (0..7) of an update: offset k * 0x8000, more-follows on all but the last.
inline Cdb UpdateChunkCdb(int k) { return ChunkCdb(uint32_t(k) * 0x8000, k == 7 ? 0 : 1); }

#endif
