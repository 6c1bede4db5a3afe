// The scenario of the virtual ASPI manager: adapters, devices, loaders and faults on demand,
// read from a "key = value" file (format in sim/README.md).
#ifndef M770B_SIM_SCENARIO_SCENARIO_H
#define M770B_SIM_SCENARIO_SCENARIO_H

#include "sim/loader/LoaderModel.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

enum class DeviceKind { Loader, Normal, CdRom, Disk };

// Milliseconds from submission to completion, per command.
struct DeviceLatency {
    uint32_t testUnitReady = 0, inquiry = 0, erase = 0, chunk = 0, checksum = 0, identity = 0,
             other = 0;
    uint32_t ForOpcode(uint8_t opcode) const;
};

struct DeviceScenario {
    uint8_t adapter = 0;
    uint8_t target = 0;
    DeviceKind kind = DeviceKind::Loader;
    uint8_t type = 5;
    InquiryData inquiry{};
    IdentityData identity{};
    std::string flashPath;
    DeviceLatency latency;
};

enum class FaultAction { Answer, Disappear, Delay, Hang, Data, Remove, Hold, Hangup };

// The action's name in the scenario file and the trace ("answer", "hang" ...), "?" for none.
const char *FaultActionName(FaultAction action);
// The action of that name; false when no action has it.
bool FaultActionNamed(const std::string &name, FaultAction &action);

struct FaultRule {
    int adapter = -1; // -1: any
    int target = -1;
    int opcode = -1;
    uint32_t nth = 1;
    bool onward = false;
    FaultAction action = FaultAction::Answer;
    uint8_t status = 0x01;
    uint8_t hastat = 0x00;
    uint8_t targstat = 0x00;
    SenseData sense{};
    uint32_t delayMs = 1500;
    uint32_t dataOffset = 0;
    std::vector<uint8_t> data;
};

// What the stand-in for Windows' storage stack beneath our own ASPI manager plays
// (tests/e2e/aspi/ScenarioPassThrough.cpp); the simulated manager ignores it.
struct WindowsStack {
    bool xp = false; // `windows = xp`: a class driver without exclusive access
    std::vector<uint8_t>
        emptyBuses;                 // ports ahead of the adapters', each with that many empty buses
    uint32_t maxTransfer = 0x20000; // the ports' MaximumTransferLength
    uint32_t maxPages = 33;         // and MaximumPhysicalPages
    bool openDenied = false;        // every read/write open refused for lack of rights
};

struct Scenario {
    uint8_t adapters = 1;
    uint8_t supportStatus = 0x01;
    // The largest transfer the adapters take, published in HA_Unique bytes 4-7 of SC_HA_INQUIRY;
    // 0 publishes 0 (a manager that does not tell) and takes up to DefaultMaxTransfer.
    uint32_t maxTransfer = DefaultMaxTransfer;
    static constexpr uint32_t DefaultMaxTransfer = 0x10000;
    std::array<bool, 256> answering{}; // adapters that answer SC_HA_INQUIRY
    std::string tracePath;
    uint8_t checkConditionStatus = 0x04;
    std::vector<DeviceScenario> devices;
    std::vector<FaultRule> faults;
    WindowsStack windows;

    const DeviceScenario *Device(uint8_t adapter, uint8_t target) const;
};

// Counts the requests each fault rule matches and says which rule hits a request: the first rule
// in the file whose count reaches its `nth` (or has passed it, with `onward`). Every matching
// rule counts the request, hit or not.
class TFaultCounter {
  public:
    void Reset(const std::vector<FaultRule> &rules);
    const FaultRule *Count(uint8_t adapter, uint8_t target, uint8_t opcode);

  private:
    const std::vector<FaultRule> *rules_ = nullptr;
    std::vector<uint32_t> counts_;
};

// The first fault rule whose action a host interface does not offer; null when it offers all.
const FaultRule *UnsupportedFault(const Scenario &scenario,
                                  std::initializer_list<FaultAction> offered);

// Parses scenario text; relative paths are taken relative to `folder` (empty: as they are).
// On failure returns false and says why, with the line number, in `error`.
bool ParseScenario(const std::string &text, const std::string &folder, Scenario &scenario,
                   std::string &error);
bool ReadScenarioFile(const std::string &path, Scenario &scenario, std::string &error);

// A byte value: hexadecimal digit pairs and quoted texts with escapes, joined. False when
// malformed.
bool ParseByteValue(const std::string &value, std::vector<uint8_t> &bytes);

// The folder part of a path (up to its last '/' or '\'), empty when there is none.
std::string FolderOf(const std::string &path);

#endif
