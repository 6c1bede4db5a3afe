#include "sim/trace/SimTrace.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sim/HexText.h"

namespace {

bool TakesRestOfLine(const std::string &key) { return key == "scenario" || key == "text"; }

} // namespace

uint64_t Fnv1a64(const void *data, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string DigestText(uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

std::string HexBytes(const uint8_t *data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string HeldRequestEventName(uint64_t processId, uint64_t seq) {
    return "M770B.Held." + std::to_string(processId) + "." + std::to_string(seq);
}

TTraceLine &TTraceLine::Dec(const char *key, uint64_t value) {
    return Text(key, std::to_string(value));
}

TTraceLine &TTraceLine::Hex(const char *key, uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return Text(key, text);
}

TTraceLine &TTraceLine::Bytes(const char *key, const uint8_t *data, size_t size) {
    return Text(key, HexBytes(data, size));
}

TTraceLine &TTraceLine::Text(const char *key, const std::string &value) {
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += value;
    return *this;
}

bool TraceRecord::Has(const std::string &key) const {
    for (const auto &field : fields)
        if (field.first == key)
            return true;
    return false;
}

std::string TraceRecord::Text(const std::string &key) const {
    for (const auto &field : fields)
        if (field.first == key)
            return field.second;
    return std::string();
}

uint64_t TraceRecord::Number(const std::string &key, uint64_t fallback) const {
    if (!Has(key))
        return fallback;
    std::string text = Text(key);
    if (text.empty())
        return fallback;
    const char *begin = text.c_str();
    char *end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long long value = std::strtoull(hex ? begin + 2 : begin, &end, hex ? 16 : 10);
    return *end == '\0' ? value : fallback;
}

std::vector<uint8_t> TraceRecord::Bytes(const std::string &key) const {
    std::string text = Text(key);
    std::vector<uint8_t> bytes;
    if (text.size() % 2)
        return bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t byte = 0;
        if (!HexByte(text[i], text[i + 1], byte))
            return {};
        bytes.push_back(byte);
    }
    return bytes;
}

bool ParseTraceLine(const std::string &line, TraceRecord &record) {
    record = TraceRecord{};
    size_t end = line.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return false;
    std::string text = line.substr(0, end + 1);
    size_t pos = text.find(' ');
    record.kind = text.substr(0, pos);
    while (pos != std::string::npos) {
        size_t start = pos + 1;
        size_t equals = text.find('=', start);
        if (equals == std::string::npos)
            break;
        std::string key = text.substr(start, equals - start);
        size_t next = TakesRestOfLine(key) ? std::string::npos : text.find(' ', equals + 1);
        record.fields.emplace_back(key, text.substr(equals + 1, next == std::string::npos
                                                                     ? std::string::npos
                                                                     : next - equals - 1));
        pos = next;
    }
    return !record.kind.empty();
}

std::vector<TraceRecord> ReadTraceFile(const std::string &path) {
    std::vector<TraceRecord> records;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    TraceRecord record;
    while (std::getline(file, line))
        if (ParseTraceLine(line, record))
            records.push_back(record);
    return records;
}
