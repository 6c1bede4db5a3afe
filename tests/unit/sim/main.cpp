// sim_tests PATH-OF-wnaspi32.dll: the virtual loader drive's tests. A Unix path (as ctest passes
// it under Wine) is reached through drive Z:.
#include "SimDll.h"

#include <gtest/gtest.h>

#include <algorithm>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        SimDllPath = argv[1];
        if (!SimDllPath.empty() && SimDllPath[0] == '/') {
            std::replace(SimDllPath.begin(), SimDllPath.end(), '/', '\\');
            SimDllPath = "Z:" + SimDllPath;
        }
    }
    return RUN_ALL_TESTS();
}
