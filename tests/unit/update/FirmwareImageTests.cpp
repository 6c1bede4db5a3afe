// Loading "Firmware.bin" from the current working directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/FirmwareImage.h"

namespace {

// Each test works in a fresh folder of its own, made the current working directory.
class FirmwareImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        GetCurrentDirectoryA(MAX_PATH, previous_);
        folder_ = std::string(temp) + "m770b-image-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder_.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
        DeleteFileA("Firmware.bin");
        RemoveDirectoryA("Firmware.bin");
        std::memcpy(ImageRevision, "xxxx", 5);
        ExpectedChecksum[0] = ExpectedChecksum[1] = 0xAA;
    }
    void TearDown() override {
        DeleteFileA("Firmware.bin");
        RemoveDirectoryA("Firmware.bin");
        SetCurrentDirectoryA(previous_);
        RemoveDirectoryA(folder_.c_str());
        std::free(buffer);
    }

    static std::vector<BYTE> Image(DWORD size, const char revision[4], BYTE first, BYTE second) {
        std::vector<BYTE> bytes(size);
        for (DWORD i = 0; i < size; ++i)
            bytes[i] = static_cast<BYTE>(i ^ (i >> 8) ^ (i >> 16));
        if (size >= 0x40000) {
            std::memcpy(&bytes[0x198], revision, 4);
            bytes[0x3FFFE] = first;
            bytes[0x3FFFF] = second;
        }
        return bytes;
    }
    static void WriteFile(const std::vector<BYTE> &bytes) {
        std::FILE *file = std::fopen("Firmware.bin", "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    BYTE *buffer = nullptr;
    std::string folder_;
    char previous_[MAX_PATH] = {};
};

TEST_F(FirmwareImageTest, AWholeImageIsLoadedWithItsRevisionAndChecksum) {
    struct Case {
        const char *name;
        DWORD size;
        char revision[4];
        const char *expectedRevision;
    };
    const Case cases[] = {
        {"four characters", 0x40000, {'V', '1', '.', '2'}, "V1.2"},
        {"three and a zero", 0x40000, {'1', '0', '5', '\0'}, "105"},
        {"a zero first", 0x40000, {'\0', 'A', 'B', 'C'}, ""},
        {"a longer file (only its first 256 KiB count)",
         0x40000 + 0x1003,
         {'L', 'O', 'N', 'G'},
         "LONG"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> bytes = Image(c.size, c.revision, 0x12, 0x34);
        if (c.size > 0x40000) { // the end of the file must not be taken for the checksum
            bytes[c.size - 2] = 0x56;
            bytes[c.size - 1] = 0x78;
        }
        WriteFile(bytes);
        std::free(buffer);
        buffer = nullptr;
        EXPECT_EQ(ReadFirmwareImage(buffer), nullptr);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(std::memcmp(buffer, bytes.data(), FirmwareImageSize), 0);
        EXPECT_STREQ(ImageRevision, c.expectedRevision);
        EXPECT_EQ(ImageRevision[4], '\0');
        EXPECT_EQ(ExpectedChecksum[0], 0x12);
        EXPECT_EQ(ExpectedChecksum[1], 0x34);
    }
}

TEST_F(FirmwareImageTest, AFileThatCannotBeOpenedIsNotOpen) {
    EXPECT_STREQ(ReadFirmwareImage(buffer), "File not open.(Firmware.bin)");
    EXPECT_EQ(buffer, nullptr);
    ASSERT_TRUE(CreateDirectoryA("Firmware.bin", nullptr)); // a folder is not a file
    EXPECT_STREQ(ReadFirmwareImage(buffer), "File not open.(Firmware.bin)");
    EXPECT_EQ(buffer, nullptr);
    EXPECT_STREQ(ImageRevision, "xxxx") << "a failed load leaves the revision alone";
}

TEST_F(FirmwareImageTest, AShortOrEmptyFileIsAFileError) {
    for (DWORD size : {0u, 1u, 0x198u, 0x3FFFEu, 0x3FFFFu}) {
        SCOPED_TRACE(size);
        WriteFile(Image(size, "abcd", 0, 0));
        EXPECT_STREQ(ReadFirmwareImage(buffer), "Firmware file error.(Firmware.bin) ");
        EXPECT_EQ(buffer, nullptr);
        EXPECT_STREQ(ImageRevision, "xxxx");
        EXPECT_EQ(ExpectedChecksum[0], 0xAA);
    }
    // The file was closed again: it can be removed at once.
    EXPECT_TRUE(DeleteFileA("Firmware.bin"));
}

// A file that opens but cannot be read: the test's set-up links Firmware.bin in a folder of its
// own to the Linux file /proc/self/mem, whose first page is never mapped, so reading fails.
TEST_F(FirmwareImageTest, AReadErrorIsAFileError) {
    const char *folder = std::getenv("M770B_UNREADABLE_IMAGE_FOLDER");
    ASSERT_NE(folder, nullptr) << "the test's set-up names the folder with the unreadable file";
    ASSERT_TRUE(SetCurrentDirectoryA((std::string("Z:") + folder).c_str()));
    EXPECT_STREQ(ReadFirmwareImage(buffer), "Firmware file error.(Firmware.bin) ");
    EXPECT_EQ(buffer, nullptr);
    EXPECT_STREQ(ImageRevision, "xxxx");
    SetCurrentDirectoryA(folder_.c_str());
}

} // namespace
