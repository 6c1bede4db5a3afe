// The trace of the virtual ASPI manager: one line per event, "<kind> key=value key=value ...".
// The manager writes it with TTraceLine; tests read it back with ReadTraceFile. The fields of
// each kind are listed in sim/README.md.
#ifndef M770B_SIM_TRACE_SIMTRACE_H
#define M770B_SIM_TRACE_SIMTRACE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// FNV-1a, 64 bits (offset basis 0xcbf29ce484222325, prime 0x100000001b3): the digest of the
// data-out bytes of a request.
uint64_t Fnv1a64(const void *data, size_t size);
// The digest as the trace writes it: 16 lower-case hexadecimal digits.
std::string DigestText(uint64_t digest);
// Bytes as the trace writes them: upper-case hexadecimal, no blanks.
std::string HexBytes(const uint8_t *data, size_t size);

// The event a request held by a `hold` rule waits for: "M770B.Held.<pid>.<seq>", the process
// that loaded the manager (its `load` line) and the request's `seq`. Whoever sets it lets the
// drive run the request.
std::string HeldRequestEventName(uint64_t processId, uint64_t seq);

// Builds one trace line. Fields named "scenario" and "text" take the rest of the line, so they
// must come last.
class TTraceLine {
  public:
    explicit TTraceLine(const char *kind) : line_(kind) {}
    TTraceLine &Dec(const char *key, uint64_t value);
    TTraceLine &Hex(const char *key, uint32_t value, int digits = 2); // "0x" and upper case
    TTraceLine &Bytes(const char *key, const uint8_t *data, size_t size);
    TTraceLine &Text(const char *key, const std::string &value);
    const std::string &Line() const { return line_; }

  private:
    std::string line_;
};

struct TraceRecord {
    std::string kind;
    std::vector<std::pair<std::string, std::string>> fields;

    bool Has(const std::string &key) const;
    // The field's text; empty when absent.
    std::string Text(const std::string &key) const;
    // "0x.." as hexadecimal, anything else as decimal; `fallback` when absent or not a number.
    uint64_t Number(const std::string &key, uint64_t fallback = ~uint64_t(0)) const;
    // A hexadecimal byte string; empty when absent or malformed.
    std::vector<uint8_t> Bytes(const std::string &key) const;
};

// Splits one line; returns false for an empty line.
bool ParseTraceLine(const std::string &line, TraceRecord &record);
// Every line of the file, in order; empty when the file cannot be read.
std::vector<TraceRecord> ReadTraceFile(const std::string &path);

#endif
