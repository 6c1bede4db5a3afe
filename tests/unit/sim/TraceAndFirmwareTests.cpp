// Trace lines as tests read them, and the sample firmware images the loader accepts.
#include "TestFiles.h"

#include "sim/loader/LoaderModel.h"
#include "sim/trace/SimTrace.h"
#include "tools/firmware/SampleFirmware.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(TraceTest, DigestIsFnv1a64) {
    EXPECT_EQ(Fnv1a64("", 0), 0xcbf29ce484222325ull);
    EXPECT_EQ(Fnv1a64("a", 1), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(Fnv1a64("foobar", 6), 0x85944171f73967e8ull);
    EXPECT_EQ(DigestText(0x00f1ull), "00000000000000f1");
}

TEST(TraceTest, LinesReadBackAsTheyWereWritten) {
    const uint8_t cdb[] = {0x12, 0x00, 0xAB};
    std::string line = TTraceLine("req")
                           .Dec("seq", 7)
                           .Hex("flags", 0x48)
                           .Hex("ret", 0x101, 8)
                           .Bytes("cdb", cdb, sizeof cdb)
                           .Text("text", "two words = here")
                           .Line();
    EXPECT_EQ(line, "req seq=7 flags=0x48 ret=0x00000101 cdb=1200AB text=two words = here");
    TraceRecord record;
    ASSERT_TRUE(ParseTraceLine(line + "\r\n", record));
    EXPECT_EQ(record.kind, "req");
    EXPECT_EQ(record.Number("seq"), 7u);
    EXPECT_EQ(record.Number("flags"), 0x48u);
    EXPECT_EQ(record.Number("ret"), 0x101u);
    EXPECT_EQ(record.Bytes("cdb"), (std::vector<uint8_t>{0x12, 0x00, 0xAB}));
    EXPECT_EQ(record.Text("text"), "two words = here");
    EXPECT_FALSE(record.Has("digest"));
    EXPECT_EQ(record.Number("digest", 99), 99u);
    EXPECT_FALSE(ParseTraceLine("\r\n", record));
}

TEST(SampleFirmwareTest, CarriesRevisionAndTheChecksumTheLoaderReports) {
    std::vector<uint8_t> image = MakeSampleFirmware(7, "1.3");
    ASSERT_EQ(image.size(), 0x40000u);
    EXPECT_EQ(0, std::memcmp(&image[0x198], "1.3\0", 4));
    uint16_t sum = LoaderChecksum(image.data());
    EXPECT_EQ(image[0x3FFFE], sum >> 8);
    EXPECT_EQ(image[0x3FFFF], sum & 0xFF);

    EXPECT_EQ(MakeSampleFirmware(7, "1.3"), image) << "same seed, same image";
    std::vector<uint8_t> other = MakeSampleFirmware(8, "1.3");
    size_t differing = 0;
    for (size_t i = 0; i < image.size(); ++i)
        differing += image[i] != other[i];
    EXPECT_GT(differing, image.size() / 2) << "another seed gives other content";
    EXPECT_THROW(MakeSampleFirmware(1, "12345"), std::invalid_argument);
}

TEST(SampleFirmwareTest, WrittenFileIsTheImage) {
    TScratchFolder folder;
    ASSERT_TRUE(WriteSampleFirmware(folder.File("Firmware.bin"), 3, "ABCD"));
    EXPECT_EQ(ReadBytes(folder.File("Firmware.bin")), MakeSampleFirmware(3, "ABCD"));
    EXPECT_FALSE(WriteSampleFirmware(folder.File("missing\\Firmware.bin"), 3, "ABCD"));
}

} // namespace
