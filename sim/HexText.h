// Hexadecimal text as the virtual drive's files write it: the scenario's byte values and the
// trace's byte fields.
#ifndef M770B_SIM_HEXTEXT_H
#define M770B_SIM_HEXTEXT_H

#include <cstdint>

// The value of one hexadecimal digit (either case), or -1.
inline int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte that two hexadecimal digits spell; false when either is no digit.
inline bool HexByte(char high, char low, uint8_t &byte) {
    int h = HexDigit(high), l = HexDigit(low);
    if (h < 0 || l < 0)
        return false;
    byte = static_cast<uint8_t>(h << 4 | l);
    return true;
}

#endif
