#include "sim/scenario/Scenario.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/HexText.h"

namespace {

// The fault actions by their names in the scenario file and the trace.
const struct {
    const char *name;
    FaultAction action;
} FaultActions[] = {{"answer", FaultAction::Answer}, {"disappear", FaultAction::Disappear},
                    {"delay", FaultAction::Delay},   {"hang", FaultAction::Hang},
                    {"data", FaultAction::Data},     {"remove", FaultAction::Remove},
                    {"hold", FaultAction::Hold},
                    {"hangup", FaultAction::Hangup}};

// The built-in devices: device type, INQUIRY bytes 0-7 and bytes 8-35 as text.
struct Preset {
    DeviceKind kind;
    const char *name;
    uint8_t type;
    uint8_t head[8];
    const char *text;
};

constexpr Preset Presets[] = {
    {DeviceKind::Loader, "loader", 5, {0x05, 0x80, 0x02, 0x02, 0x1F}, "VANDREL  Program Mode1  1.00"},
    {DeviceKind::Normal, "normal", 5, {0x05, 0x80, 0x02, 0x02, 0x1F}, "VANDREL ZD-M770B        1.10"},
    {DeviceKind::CdRom, "cdrom", 5, {0x05, 0x80, 0x02, 0x02, 0x1F}, "OTHERCO CD-ROM XM-1     2.00"},
    {DeviceKind::Disk, "disk", 0, {0x00, 0x00, 0x02, 0x02, 0x1F}, "OTHERCO HARD DISK       1.00"},
};

constexpr char DefaultIdentity[] = "VANDREL ZD-M770B LOADER 1.10";

const Preset &PresetOf(DeviceKind kind) {
    for (const Preset &preset : Presets)
        if (preset.kind == kind)
            return preset;
    return Presets[0];
}

InquiryData PresetInquiry(const Preset &preset) {
    InquiryData data{};
    std::memcpy(data.data(), preset.head, 8);
    std::memcpy(data.data() + 8, preset.text, InquiryLength - 8);
    return data;
}

std::string Trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// The line without its comment; a '#' inside quotes is text.
std::string StripComment(const std::string &line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (quoted && line[i] == '\\')
            ++i;
        else if (line[i] == '"')
            quoted = !quoted;
        else if (!quoted && line[i] == '#')
            return line.substr(0, i);
    }
    return line;
}

bool ParseNumber(const std::string &text, uint64_t max, uint64_t &value) {
    if (text.empty())
        return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = text.c_str() + (hex ? 2 : 0);
    if (*digits == '\0' || *digits == '-' || *digits == '+')
        return false;
    char *end = nullptr;
    value = std::strtoull(digits, &end, hex ? 16 : 10);
    return *end == '\0' && value <= max;
}

bool IsAbsolute(const std::string &path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

std::string Resolve(const std::string &folder, const std::string &path) {
    if (folder.empty() || IsAbsolute(path))
        return path;
    char last = folder.back();
    if (last == '/' || last == '\\')
        return folder + path;
    return folder + (folder.find('\\') != std::string::npos ? "\\" : "/") + path;
}

// One quoted text starting at value[pos] == '"'; leaves pos after the closing quote.
bool ParseQuoted(const std::string &value, size_t &pos, std::vector<uint8_t> &bytes) {
    for (++pos; pos < value.size(); ++pos) {
        char c = value[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            bytes.push_back(static_cast<uint8_t>(c));
            continue;
        }
        if (++pos >= value.size())
            return false;
        switch (value[pos]) {
        case '\\': bytes.push_back('\\'); break;
        case '"': bytes.push_back('"'); break;
        case '0': bytes.push_back(0); break;
        case 't': bytes.push_back('\t'); break;
        case 'n': bytes.push_back('\n'); break;
        case 'x': {
            if (pos + 2 >= value.size())
                return false;
            uint8_t byte = 0;
            if (!HexByte(value[pos + 1], value[pos + 2], byte))
                return false;
            bytes.push_back(byte);
            pos += 2;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

// Fills a fixed-size field from a byte value: shorter values are padded with zeros.
template <size_t N>
bool FillField(const std::string &value, std::array<uint8_t, N> &field) {
    std::vector<uint8_t> bytes;
    if (!ParseByteValue(value, bytes) || bytes.size() > N)
        return false;
    field.fill(0);
    std::memcpy(field.data(), bytes.data(), bytes.size());
    return true;
}

class TScenarioParser {
  public:
    TScenarioParser(const std::string &folder, Scenario &scenario)
        : folder_(folder), scenario_(scenario) {}

    bool Parse(const std::string &text, std::string &error);

  private:
    enum class Section { Global, Device, Fault };

    bool Line(const std::string &line);
    bool Header(const std::string &header);
    bool GlobalKey(const std::string &key, const std::string &value);
    bool WindowsKey(const std::string &key, const std::string &value);
    bool DeviceKey(const std::string &key, const std::string &value);
    bool FaultKey(const std::string &key, const std::string &value);
    bool FinishSection();
    bool Byte(const std::string &value, uint8_t &out);
    bool Number32(const std::string &value, uint32_t &out);
    bool Fail(const std::string &why) {
        why_ = why;
        return false;
    }

    std::string folder_;
    Scenario &scenario_;
    std::string why_;
    Section section_ = Section::Global;
    bool answeringSet_ = false;
    // What the section being read has set explicitly; the rest takes its defaults at its end.
    bool typeSet_ = false, inquirySet_ = false, identitySet_ = false, flashSet_ = false;
    bool statusSet_ = false, hastatSet_ = false, senseSet_ = false, senseKeysSet_ = false;
    uint8_t senseKey_ = 0, asc_ = 0, ascq_ = 0;
};

bool TScenarioParser::Parse(const std::string &text, std::string &error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!Line(line)) {
            error = "line " + std::to_string(number) + ": " + why_;
            return false;
        }
    }
    if (!FinishSection()) {
        error = "line " + std::to_string(number) + ": " + why_;
        return false;
    }
    if (!answeringSet_)
        for (unsigned a = 0; a < scenario_.adapters; ++a)
            scenario_.answering[a] = true;
    if (scenario_.tracePath.empty())
        scenario_.tracePath = Resolve(folder_, "trace.txt");
    return true;
}

bool TScenarioParser::Line(const std::string &raw) {
    std::string line = Trim(StripComment(raw));
    if (line.empty())
        return true;
    if (line.front() == '[') {
        if (line.back() != ']')
            return Fail("section header without ']'");
        return FinishSection() && Header(Trim(line.substr(1, line.size() - 2)));
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return Fail("expected key = value");
    std::string key = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    switch (section_) {
    case Section::Global:
        return GlobalKey(key, value);
    case Section::Device:
        return DeviceKey(key, value);
    case Section::Fault:
        return FaultKey(key, value);
    }
    return false;
}

bool TScenarioParser::Header(const std::string &header) {
    std::istringstream words(header);
    std::string name, adapterText, targetText, extra;
    words >> name >> adapterText >> targetText >> extra;
    if (name == "fault" && adapterText.empty()) {
        section_ = Section::Fault;
        scenario_.faults.emplace_back();
        return true;
    }
    uint64_t adapter = 0, target = 0;
    if (name != "device" || !extra.empty() || !ParseNumber(adapterText, 255, adapter) ||
        !ParseNumber(targetText, 7, target))
        return Fail("unknown section [" + header + "] (expected [device A T] or [fault])");
    if (scenario_.Device(static_cast<uint8_t>(adapter), static_cast<uint8_t>(target)))
        return Fail("device " + adapterText + " " + targetText + " given twice");
    section_ = Section::Device;
    DeviceScenario device;
    device.adapter = static_cast<uint8_t>(adapter);
    device.target = static_cast<uint8_t>(target);
    scenario_.devices.push_back(device);
    return true;
}

bool TScenarioParser::GlobalKey(const std::string &key, const std::string &value) {
    if (key == "adapters")
        return Byte(value, scenario_.adapters);
    if (key == "support_status")
        return Byte(value, scenario_.supportStatus);
    if (key == "max_transfer")
        return Number32(value, scenario_.maxTransfer);
    if (key == "check_condition_status")
        return Byte(value, scenario_.checkConditionStatus);
    if (key == "trace") {
        scenario_.tracePath = Resolve(folder_, value);
        return !value.empty() || Fail("empty trace path");
    }
    if (key == "answering") {
        answeringSet_ = true;
        scenario_.answering.fill(false);
        if (value == "none")
            return true;
        std::istringstream words(value);
        std::string word;
        uint8_t adapter = 0;
        while (words >> word) {
            if (!Byte(word, adapter))
                return false;
            scenario_.answering[adapter] = true;
        }
        return true;
    }
    return WindowsKey(key, value);
}

bool TScenarioParser::WindowsKey(const std::string &key, const std::string &value) {
    WindowsStack &windows = scenario_.windows;
    uint64_t number = 0;
    bool good = false;
    if (key == "windows") {
        good = value == "xp" || value == "vista";
        windows.xp = value == "xp";
    } else if (key == "open_denied") {
        good = value == "yes" || value == "no";
        windows.openDenied = value == "yes";
    } else if (key == "max_transfer" || key == "max_pages") {
        good = ParseNumber(value, 0xFFFFFFFF, number);
        (key == "max_pages" ? windows.maxPages : windows.maxTransfer) = uint32_t(number);
    } else if (key == "empty_buses") {
        std::istringstream words(value);
        good = true;
        for (std::string word; good && words >> word;) {
            good = ParseNumber(word, 255, number);
            windows.emptyBuses.push_back(uint8_t(number));
        }
    } else {
        return Fail("unknown key \"" + key + "\"");
    }
    return good || Fail("bad value for " + key + ": \"" + value + "\"");
}

bool TScenarioParser::DeviceKey(const std::string &key, const std::string &value) {
    DeviceScenario &device = scenario_.devices.back();
    struct LatencyKey {
        const char *name;
        uint32_t DeviceLatency::*field;
    };
    static const LatencyKey latencyKeys[] = {
        {"latency_tur", &DeviceLatency::testUnitReady},
        {"latency_inquiry", &DeviceLatency::inquiry},
        {"latency_erase", &DeviceLatency::erase},
        {"latency_chunk", &DeviceLatency::chunk},
        {"latency_checksum", &DeviceLatency::checksum},
        {"latency_identity", &DeviceLatency::identity},
        {"latency_other", &DeviceLatency::other},
    };
    for (const LatencyKey &latency : latencyKeys)
        if (key == latency.name)
            return Number32(value, device.latency.*latency.field);
    if (key == "kind") {
        for (const Preset &preset : Presets)
            if (value == preset.name) {
                device.kind = preset.kind;
                return true;
            }
        return Fail("unknown kind \"" + value + "\" (loader, normal, cdrom, disk)");
    }
    if (key == "type")
        return (typeSet_ = true, Byte(value, device.type));
    if (key == "inquiry") {
        inquirySet_ = true;
        return FillField(value, device.inquiry) || Fail("inquiry: bad byte value or above 36");
    }
    if (key == "identity") {
        identitySet_ = true;
        return FillField(value, device.identity) || Fail("identity: bad byte value or above 32");
    }
    if (key == "flash") {
        flashSet_ = true;
        device.flashPath = Resolve(folder_, value);
        return !value.empty() || Fail("empty flash path");
    }
    return Fail("unknown key \"" + key + "\"");
}

bool TScenarioParser::FaultKey(const std::string &key, const std::string &value) {
    FaultRule &fault = scenario_.faults.back();
    struct Filter {
        const char *name;
        int FaultRule::*field;
        uint64_t max;
    };
    static const Filter filters[] = {
        {"adapter", &FaultRule::adapter, 255},
        {"target", &FaultRule::target, 7},
        {"opcode", &FaultRule::opcode, 255},
    };
    for (const Filter &filter : filters) {
        if (key != filter.name)
            continue;
        uint64_t number = 0;
        if (value == "any")
            fault.*filter.field = -1;
        else if (ParseNumber(value, filter.max, number))
            fault.*filter.field = static_cast<int>(number);
        else
            return Fail(key + ": expected a number up to " + std::to_string(filter.max) +
                        " or any");
        return true;
    }
    if (key == "nth") {
        uint64_t number = 0;
        if (!ParseNumber(value, 0xFFFFFFFF, number) || number == 0)
            return Fail("nth: expected a number from 1 on");
        fault.nth = static_cast<uint32_t>(number);
        return true;
    }
    if (key == "onward") {
        if (value != "yes" && value != "no")
            return Fail("onward: expected yes or no");
        fault.onward = value == "yes";
        return true;
    }
    if (key == "action") {
        return FaultActionNamed(value, fault.action) || Fail("unknown action \"" + value + "\"");
    }
    if (key == "status")
        return (statusSet_ = true, Byte(value, fault.status));
    if (key == "hastat")
        return (hastatSet_ = true, Byte(value, fault.hastat));
    if (key == "targstat")
        return Byte(value, fault.targstat);
    if (key == "sense_key")
        return (senseKeysSet_ = true, Byte(value, senseKey_));
    if (key == "asc")
        return (senseKeysSet_ = true, Byte(value, asc_));
    if (key == "ascq")
        return (senseKeysSet_ = true, Byte(value, ascq_));
    if (key == "sense") {
        senseSet_ = true;
        return FillField(value, fault.sense) || Fail("sense: bad byte value or above 18");
    }
    if (key == "delay")
        return Number32(value, fault.delayMs);
    if (key == "data_offset")
        return Number32(value, fault.dataOffset);
    if (key == "data")
        return ParseByteValue(value, fault.data) || Fail("data: bad byte value");
    return Fail("unknown key \"" + key + "\"");
}

bool TScenarioParser::FinishSection() {
    if (section_ == Section::Device) {
        DeviceScenario &device = scenario_.devices.back();
        const Preset &preset = PresetOf(device.kind);
        if (!typeSet_)
            device.type = preset.type;
        if (!inquirySet_)
            device.inquiry = PresetInquiry(preset);
        if (device.kind == DeviceKind::Loader) {
            if (!identitySet_)
                std::memcpy(device.identity.data(), DefaultIdentity, sizeof DefaultIdentity - 1);
            if (!flashSet_)
                device.flashPath =
                    Resolve(folder_, "flash-" + std::to_string(device.adapter) + "-" +
                                         std::to_string(device.target) + ".bin");
        } else if (identitySet_ || flashSet_) {
            return Fail("identity and flash belong to a loader only");
        }
    } else if (section_ == Section::Fault) {
        FaultRule &fault = scenario_.faults.back();
        if (senseSet_ && senseKeysSet_)
            return Fail("give either sense or sense_key/asc/ascq, not both");
        if (senseKeysSet_)
            fault.sense = MakeFixedSense(senseKey_, asc_, ascq_);
        if (fault.action == FaultAction::Disappear) {
            fault.onward = true;
            if (!statusSet_)
                fault.status = 0x04;
            if (!hastatSet_)
                fault.hastat = 0x11;
        }
    }
    typeSet_ = inquirySet_ = identitySet_ = flashSet_ = false;
    statusSet_ = hastatSet_ = senseSet_ = senseKeysSet_ = false;
    senseKey_ = asc_ = ascq_ = 0;
    return true;
}

bool TScenarioParser::Byte(const std::string &value, uint8_t &out) {
    uint64_t number = 0;
    if (!ParseNumber(value, 255, number))
        return Fail("expected a number 0..255, got \"" + value + "\"");
    out = static_cast<uint8_t>(number);
    return true;
}

bool TScenarioParser::Number32(const std::string &value, uint32_t &out) {
    uint64_t number = 0;
    if (!ParseNumber(value, 0xFFFFFFFF, number))
        return Fail("expected a number, got \"" + value + "\"");
    out = static_cast<uint32_t>(number);
    return true;
}

} // namespace

uint32_t DeviceLatency::ForOpcode(uint8_t opcode) const {
    switch (opcode) {
    case OpTestUnitReady: return testUnitReady;
    case OpInquiry: return inquiry;
    case OpEraseFlash: return erase;
    case OpWriteChunk: return chunk;
    case OpReadIdentity: return identity;
    case OpReadChecksum: return checksum;
    default: return other;
    }
}

const char *FaultActionName(FaultAction action) {
    for (const auto &row : FaultActions)
        if (row.action == action)
            return row.name;
    return "?";
}

bool FaultActionNamed(const std::string &name, FaultAction &action) {
    for (const auto &row : FaultActions)
        if (name == row.name) {
            action = row.action;
            return true;
        }
    return false;
}

const DeviceScenario *Scenario::Device(uint8_t adapter, uint8_t target) const {
    for (const DeviceScenario &device : devices)
        if (device.adapter == adapter && device.target == target)
            return &device;
    return nullptr;
}

void TFaultCounter::Reset(const std::vector<FaultRule> &rules) {
    rules_ = &rules;
    counts_.assign(rules.size(), 0);
}

const FaultRule *TFaultCounter::Count(uint8_t adapter, uint8_t target, uint8_t opcode) {
    const FaultRule *hit = nullptr;
    for (size_t i = 0; rules_ && i < rules_->size(); ++i) {
        const FaultRule &rule = (*rules_)[i];
        if ((rule.adapter >= 0 && rule.adapter != adapter) ||
            (rule.target >= 0 && rule.target != target) ||
            (rule.opcode >= 0 && rule.opcode != opcode))
            continue;
        uint32_t count = ++counts_[i];
        if (!hit && (count == rule.nth || (rule.onward && count > rule.nth)))
            hit = &rule;
    }
    return hit;
}

const FaultRule *UnsupportedFault(const Scenario &scenario,
                                  std::initializer_list<FaultAction> offered) {
    for (const FaultRule &rule : scenario.faults)
        if (std::find(offered.begin(), offered.end(), rule.action) == offered.end())
            return &rule;
    return nullptr;
}

bool ParseByteValue(const std::string &value, std::vector<uint8_t> &bytes) {
    bytes.clear();
    size_t pos = 0;
    while (pos < value.size()) {
        char c = value[pos];
        if (c == ' ' || c == '\t') {
            ++pos;
        } else if (c == '"') {
            if (!ParseQuoted(value, pos, bytes))
                return false;
        } else {
            if (pos + 1 >= value.size())
                return false;
            uint8_t byte = 0;
            if (!HexByte(c, value[pos + 1], byte))
                return false;
            bytes.push_back(byte);
            pos += 2;
        }
    }
    return true;
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool ParseScenario(const std::string &text, const std::string &folder, Scenario &scenario,
                   std::string &error) {
    scenario = Scenario{};
    return TScenarioParser(folder, scenario).Parse(text, error);
}

bool ReadScenarioFile(const std::string &path, Scenario &scenario, std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        scenario = Scenario{};
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!ParseScenario(text.str(), FolderOf(path), scenario, error)) {
        error = path + " " + error;
        return false;
    }
    return true;
}
