#include "sim/loader/FlashFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

TFlashFile::TFlashFile(const std::string &path) : bytes_(FlashSize, 0x00) {
    file_ = std::fopen(path.c_str(), "r+b");
    bool complete = false;
    if (file_) {
        size_t got = std::fread(bytes_.data(), 1, FlashSize, file_);
        int extra = std::fgetc(file_);
        complete = got == FlashSize && extra == EOF;
        if (!complete) {
            // Another size: keep what fits, fill the rest, and start the file afresh.
            std::fill(bytes_.begin() + static_cast<long>(got), bytes_.end(), 0x00);
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    if (!file_) {
        file_ = std::fopen(path.c_str(), "w+b");
        if (!file_)
            throw std::runtime_error("cannot open flash file " + path);
    }
    if (!complete && !WriteThrough(0, FlashSize))
        throw std::runtime_error("cannot write flash file " + path);
}

TFlashFile::~TFlashFile() {
    if (file_)
        std::fclose(file_);
}

bool TFlashFile::Fill(uint8_t value) {
    std::memset(bytes_.data(), value, FlashSize);
    return WriteThrough(0, FlashSize);
}

bool TFlashFile::Write(uint32_t offset, const uint8_t *data, uint32_t length) {
    if (offset > FlashSize || length > FlashSize - offset)
        return false;
    std::memcpy(bytes_.data() + offset, data, length);
    return WriteThrough(offset, length);
}

bool TFlashFile::WriteThrough(uint32_t offset, uint32_t length) {
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fwrite(bytes_.data() + offset, 1, length, file_) == length &&
           std::fflush(file_) == 0;
}
