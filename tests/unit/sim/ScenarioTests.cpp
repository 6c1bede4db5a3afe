// Reading scenario files: presets, byte values, fault rules and the errors a test writer meets.
#include "sim/scenario/Scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Scenario Parse(const std::string &text) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "C:\\run", scenario, error)) << error;
    return scenario;
}

std::string TextOf(const uint8_t *bytes, size_t size) {
    return std::string(reinterpret_cast<const char *>(bytes), size);
}

TEST(ScenarioTest, DefaultsGiveOneAdapterAndALoaderThatDiscoveryRecognises) {
    Scenario scenario = Parse("[device 0 1]\n");
    EXPECT_EQ(scenario.adapters, 1);
    EXPECT_TRUE(scenario.answering[0]);
    EXPECT_FALSE(scenario.answering[1]);
    EXPECT_EQ(scenario.tracePath, "C:\\run\\trace.txt");
    ASSERT_EQ(scenario.devices.size(), 1u);
    const DeviceScenario &loader = scenario.devices[0];
    EXPECT_EQ(loader.kind, DeviceKind::Loader);
    EXPECT_EQ(loader.type, 5);
    EXPECT_EQ(TextOf(&loader.inquiry[8], 7), "VANDREL");
    EXPECT_EQ(TextOf(&loader.inquiry[17], 7), "Program");
    EXPECT_EQ(TextOf(&loader.inquiry[25], 5), "Mode1");
    EXPECT_EQ(TextOf(&loader.identity[0], 28), "VANDREL ZD-M770B LOADER 1.10");
    EXPECT_EQ(loader.identity[28], 0);
    EXPECT_EQ(loader.flashPath, "C:\\run\\flash-0-1.bin");
}

TEST(ScenarioTest, KindsDevicesAndGlobalKeys) {
    Scenario scenario = Parse("adapters = 3   # three cards\n"
                              "answering = 0 2\n"
                              "support_status = 0xE8\n"
                              "check_condition_status = 1\n"
                              "trace = Z:\\tmp\\t.txt\n"
                              "[device 2 7]\nkind = disk\nlatency_inquiry = 40\n"
                              "[device 0 3]\nkind = normal\ntype = 4\n"
                              "[device 0 4]\nflash = f.bin\nlatency_chunk = 0x20\n");
    EXPECT_EQ(scenario.adapters, 3);
    EXPECT_TRUE(scenario.answering[0] && scenario.answering[2]);
    EXPECT_FALSE(scenario.answering[1]);
    EXPECT_EQ(scenario.supportStatus, 0xE8);
    EXPECT_EQ(scenario.checkConditionStatus, 1);
    EXPECT_EQ(scenario.tracePath, "Z:\\tmp\\t.txt");
    const DeviceScenario *disk = scenario.Device(2, 7);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->type, 0);
    EXPECT_EQ(disk->latency.ForOpcode(0x12), 40u);
    const DeviceScenario *normal = scenario.Device(0, 3);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->type, 4) << "an explicit type beats the kind";
    EXPECT_EQ(TextOf(&normal->inquiry[16], 8), "ZD-M770B");
    EXPECT_EQ(scenario.Device(0, 4)->flashPath, "C:\\run\\f.bin");
    EXPECT_EQ(scenario.Device(0, 4)->latency.ForOpcode(0xE2), 32u);
    EXPECT_EQ(scenario.Device(1, 0), nullptr);
}

TEST(ScenarioTest, ByteValuesJoinHexAndQuotedTextAndFillWithZeros) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ParseByteValue("05 80\"A#\\\"\\\\\\x7f\\0\"0102", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x05, 0x80, 'A', '#', '"', '\\', 0x7F, 0, 1, 2}));
    for (const char *bad : {"0", "GG", "\"open", "\"\\q\"", "\"\\x4\""})
        EXPECT_FALSE(ParseByteValue(bad, bytes)) << bad;

    Scenario scenario = Parse("[device 0 0]\nidentity = \"ABC # not a comment\" # a comment\n");
    EXPECT_EQ(TextOf(&scenario.devices[0].identity[0], 19), "ABC # not a comment");
    EXPECT_EQ(scenario.devices[0].identity[19], 0);
    EXPECT_EQ(scenario.devices[0].identity[31], 0);
}

TEST(ScenarioTest, FaultRulesWithTheirDefaults) {
    Scenario scenario = Parse("[fault]\nopcode = 0xE2\nnth = 3\nstatus = 4\ntargstat = 2\n"
                              "sense_key = 9\nasc = 0x85\n"
                              "[fault]\naction = disappear\ntarget = 1\nnth = 2\n"
                              "[fault]\naction = data\ndata_offset = 1\ndata = 00\n"
                              "[fault]\naction = delay\nadapter = any\n"
                              "[fault]\naction = remove\n");
    ASSERT_EQ(scenario.faults.size(), 5u);
    const FaultRule &answer = scenario.faults[0];
    EXPECT_EQ(answer.action, FaultAction::Answer);
    EXPECT_EQ(answer.opcode, 0xE2);
    EXPECT_EQ(answer.target, -1);
    EXPECT_EQ(answer.nth, 3u);
    EXPECT_FALSE(answer.onward);
    EXPECT_EQ(answer.sense, MakeFixedSense(9, 0x85, 0));
    const FaultRule &gone = scenario.faults[1];
    EXPECT_TRUE(gone.onward);
    EXPECT_EQ(gone.status, 0x04);
    EXPECT_EQ(gone.hastat, 0x11);
    EXPECT_EQ(scenario.faults[2].data, std::vector<uint8_t>{0});
    EXPECT_EQ(scenario.faults[2].dataOffset, 1u);
    EXPECT_EQ(scenario.faults[3].delayMs, 1500u);
    EXPECT_EQ(scenario.faults[4].action, FaultAction::Remove);
}

TEST(ScenarioTest, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char *text;
        const char *error;
    };
    const Case cases[] = {
        {"adapter = 1\n", "line 1: unknown key \"adapter\""},
        {"adapters = 256\n", "line 1: expected a number 0..255"},
        {"\n[device 0 8]\n", "line 2: unknown section"},
        {"[device 0 1]\n[device 0 1]\n", "line 2: device 0 1 given twice"},
        {"[device 0 1]\ninquiry = 00\"0123456789012345678901234567890123456\"\n", "line 2: inquiry"},
        {"[device 0 1]\nkind = tape\n", "unknown kind"},
        {"[device 0 1]\nkind = disk\nflash = x.bin\n", "belong to a loader"},
        {"[fault]\nnth = 0\n", "nth"},
        {"[fault]\naction = explode\n", "unknown action"},
        {"[fault]\nsense = 70\nasc = 1\n", "either sense"},
        {"just words\n", "expected key = value"},
    };
    for (const Case &c : cases) {
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, "", scenario, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
    }
}

} // namespace
