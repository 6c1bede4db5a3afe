// Scratch folders and whole-file reads and writes for the simulator's tests.
#ifndef M770B_TESTS_UNIT_SIM_TESTFILES_H
#define M770B_TESTS_UNIT_SIM_TESTFILES_H

#include <cstdint>
#include <string>
#include <vector>

// A new, empty folder under the temporary folder; removed (with its files) at the end.
class TScratchFolder {
  public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder &) = delete;
    TScratchFolder &operator=(const TScratchFolder &) = delete;

    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string &path);
void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
void WriteText(const std::string &path, const std::string &text);

#endif
