// The loader's 256 KiB flash, held in memory and written through to a file at once, so that the
// file always holds what a real flash would hold, even when the process dies mid-update.
#ifndef M770B_SIM_LOADER_FLASHFILE_H
#define M770B_SIM_LOADER_FLASHFILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr uint32_t FlashSize = 0x40000;

class TFlashFile {
  public:
    // Opens (or creates) the file. A missing file starts as 256 KiB of 0x00, a file of another
    // size is cut or filled with 0x00 to 256 KiB. Throws std::runtime_error when the file cannot
    // be opened or set up.
    explicit TFlashFile(const std::string &path);
    ~TFlashFile();
    TFlashFile(const TFlashFile &) = delete;
    TFlashFile &operator=(const TFlashFile &) = delete;

    const std::vector<uint8_t> &Bytes() const { return bytes_; }

    // Each returns false when the file could not be written and flushed; memory is updated
    // either way (the cell content of a failed program operation is undefined anyway).
    bool Fill(uint8_t value);
    bool Write(uint32_t offset, const uint8_t *data, uint32_t length);

  private:
    bool WriteThrough(uint32_t offset, uint32_t length);

    std::vector<uint8_t> bytes_;
    std::FILE *file_ = nullptr;
};

#endif
