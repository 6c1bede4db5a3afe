// Writes the program's pictures: MakeProgramPictures FOLDER writes FOLDER/jumper.bmp and
// FOLDER/M770BUpdate.ico.
#include <cstdio>
#include <string>

#include "tools/pictures/ProgramPictures.h"

namespace {

bool WriteFile(const std::string &path, const Bytes &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: MakeProgramPictures FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (!WriteFile(folder + "/jumper.bmp", EncodeBitmapFile(DrawJumperPicture())) ||
        !WriteFile(folder + "/M770BUpdate.ico", EncodeProgramIcon())) {
        std::fprintf(stderr, "cannot write the pictures into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
