// Short texts with a number in them (device names, adapter identifiers), put together without
// the C runtime's formatted printing: its floating-point support alone would be a tenth of the
// DLL we ship.
#ifndef M770B_ASPI_DEVICENAME_H
#define M770B_ASPI_DEVICENAME_H

#include <cstddef>

class TDeviceName {
  public:
    TDeviceName &Text(const char *text) {
        while (*text && length_ + 1 < sizeof text_)
            text_[length_++] = *text++;
        text_[length_] = '\0';
        return *this;
    }
    TDeviceName &Letter(char letter) {
        const char text[] = {letter, '\0'};
        return Text(text);
    }
    TDeviceName &Number(unsigned value) {
        char digits[12];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        char text[12];
        for (std::size_t i = 0; i < count; ++i)
            text[i] = digits[count - 1 - i];
        text[count] = '\0';
        return Text(text);
    }
    const char *c_str() const { return text_; }

  private:
    char text_[32] = {};
    std::size_t length_ = 0;
};

#endif
