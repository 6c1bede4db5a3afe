// make_firmware: writes a sample Firmware.bin that the virtual loader drive accepts.
//   make_firmware [--seed N] [--revision TEXT] [--output PATH]
// Defaults: seed 1, revision "1.20", output "Firmware.bin" in the current folder.
#include "tools/firmware/SampleFirmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: make_firmware [--seed N] [--revision TEXT] [--output PATH]\n"
                         "  TEXT has at most four characters; N is decimal or 0x hexadecimal\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    uint32_t seed = 1;
    std::string revision = "1.20";
    std::string output = "Firmware.bin";
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc)
            return Usage();
        const char *value = argv[++i];
        if (std::strcmp(argv[i - 1], "--seed") == 0) {
            char *end = nullptr;
            unsigned long number = std::strtoul(value, &end, 0);
            if (*value == '\0' || *end != '\0' || number > 0xFFFFFFFFul)
                return Usage();
            seed = static_cast<uint32_t>(number);
        } else if (std::strcmp(argv[i - 1], "--revision") == 0) {
            revision = value;
        } else if (std::strcmp(argv[i - 1], "--output") == 0) {
            output = value;
        } else {
            return Usage();
        }
    }
    if (revision.size() > 4)
        return Usage();
    if (!WriteSampleFirmware(output, seed, revision)) {
        std::fprintf(stderr, "make_firmware: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: seed %u, revision \"%s\"\n", output.c_str(), static_cast<unsigned>(seed),
                revision.c_str());
    return 0;
}
