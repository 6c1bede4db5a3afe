// The back end of the end-to-end build of our ASPI manager: Windows' SCSI port and CD-ROM class
// drivers played over the virtual loader drive. It reads the virtual drive's scenario file
// (M770B_SIM_SCENARIO, else scenario.txt beside this DLL) and offers, after the ports of empty
// buses the scenario asks for (`empty_buses`, as an AHCI controller reports them), every adapter
// A of the scenario as a port \\.\ScsiP: with one bus. A CD-ROM-class unit (type 5) is claimed,
// as Windows' CD-ROM class driver claims it, and reached through \\.\CdRomN (numbered in the
// order of the scenario); the class driver, its volume and the desktop's programs are those of
// tests/support/ClassDriverModel.h, which polls and probes the units of its own at every request
// boundary. Other units are reached through their port. Each pass-through goes to the loader
// model the simulated manager uses, and every command that reaches a unit is written as one
// line to "passthrough.txt" in the scenario's folder, with who sent it ("by=program" for what our
// manager carried, "by=classpnp" and "by=cdfs" for the machine's own), and so is every other
// control of a class device ("control=CODE error=ERROR"). Of the scenario's fault rules the port
// plays `hang`, as its time-out; latencies and other faults are the simulated manager's.
#include "aspi/DeviceBackEnd.h"
#include "aspi/ScsiIoctl.h"
#include "scsi/wnaspi32.h"
#include "sim/loader/LoaderModel.h"
#include "sim/scenario/Scenario.h"
#include "tests/support/ClassDriverModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct TVirtualUnit {
    const DeviceScenario *scenario;
    std::unique_ptr<TLoaderModel> loader; // null for a unit that is not a loader
    bool claimed;
    int cdRom; // class device number (the class driver model's unit), -1 when unclaimed
};

// Port handles: 1 + the port number. Class devices take the handles the model gives.
constexpr uintptr_t kPortHandle = 1;
constexpr uintptr_t kPortCount = 0x100;
// Each second of a hung command's time-out passes as this many milliseconds.
constexpr DWORD kTimeoutSecondMs = 100;

std::string ModuleFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleFolder), &self);
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? FolderOf(path) : std::string();
}

std::string ScenarioFile() {
    char buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("M770B_SIM_SCENARIO", buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer)
        return buffer;
    const std::string folder = ModuleFolder();
    return folder.empty() ? "scenario.txt" : folder + "\\scenario.txt";
}

class TScenarioPassThrough : public TDeviceBackEnd {
  public:
    TScenarioPassThrough()
        : scenarioRead_(ReadScenarioFile(ScenarioFile(), scenario_, error_)),
          model_(scenario_.windows.xp ? TClassDriverModel::TWindows::Xp
                                      : TClassDriverModel::TWindows::Vista,
                 [this](unsigned unit, const char *who, const BYTE *cdb, BYTE length, DWORD in) {
                     MachineCommand(unit, who, cdb, length, in);
                 }) {
        const std::string path = ScenarioFile();
        if (!scenarioRead_) {
            std::fprintf(stderr, "scenario %s: %s\n", path.c_str(), error_.c_str());
            return; // no port opens: the manager offers no adapter
        }
        const std::string folder = FolderOf(path);
        log_ = std::fopen((folder.empty() ? "" : folder + "\\").append("passthrough.txt").c_str(),
                          "a");
        emptyPorts_ = unsigned(scenario_.windows.emptyBuses.size());
        for (const DeviceScenario &device : scenario_.devices) {
            TVirtualUnit unit{&device, nullptr, device.type == DTYPE_CDROM, -1};
            if (unit.claimed)
                unit.cdRom = int(model_.AddUnit());
            if (device.kind == DeviceKind::Loader)
                unit.loader = std::make_unique<TLoaderModel>(device.inquiry, device.identity,
                                                             device.flashPath);
            units_.push_back(std::move(unit));
        }
        faults_.Reset(scenario_.faults);
        ready_ = true;
    }

    DWORD OpenDevice(const char *name, DWORD access, HANDLE *device) override {
        std::lock_guard<std::mutex> hold(lock_);
        *device = INVALID_HANDLE_VALUE;
        unsigned n = 0;
        char tail = 0;
        if (!ready_)
            return ERROR_FILE_NOT_FOUND;
        const bool port = std::sscanf(name, "\\\\.\\Scsi%u%c", &n, &tail) == 2 && tail == ':' &&
                          n < emptyPorts_ + scenario_.adapters;
        const bool cdRom = !port && std::sscanf(name, "\\\\.\\CdRom%u", &n) == 1 && ClassUnit(n);
        if (!port && !cdRom)
            return ERROR_FILE_NOT_FOUND;
        // A limited user: the port and class drivers' devices are for administrators.
        if (scenario_.windows.openDenied && (access & (GENERIC_READ | GENERIC_WRITE)))
            return ERROR_ACCESS_DENIED;
        if (cdRom)
            return model_.Open(n, access, device);
        *device = reinterpret_cast<HANDLE>(kPortHandle + n);
        return ERROR_SUCCESS;
    }

    DWORD ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                        DWORD *returned) override {
        std::lock_guard<std::mutex> hold(lock_);
        *returned = 0;
        const uintptr_t h = reinterpret_cast<uintptr_t>(device);
        const bool isPort = h >= kPortHandle && h < kPortHandle + kPortCount;
        const unsigned port = unsigned(h - kPortHandle);
        TVirtualUnit *classUnit =
            !isPort && model_.Knows(device) ? ClassUnit(model_.UnitOf(device)) : nullptr;
        if (code == IOCTL_SCSI_GET_INQUIRY_DATA && isPort)
            return InquiryData(port, out, outSize, returned);
        if (code == IOCTL_SCSI_GET_CAPABILITIES && isPort &&
            outSize >= sizeof(IO_SCSI_CAPABILITIES))
            return Capabilities(out, returned);
        if (code == IOCTL_SCSI_GET_ADDRESS && classUnit && outSize >= sizeof(SCSI_ADDRESS)) {
            SCSI_ADDRESS address{sizeof(SCSI_ADDRESS),
                                 BYTE(emptyPorts_ + classUnit->scenario->adapter), 0,
                                 classUnit->scenario->target, 0};
            std::memcpy(out, &address, sizeof address);
            *returned = sizeof address;
            return ERROR_SUCCESS;
        }
        if (code == IOCTL_SCSI_PASS_THROUGH && (isPort || classUnit) && in == out &&
            inSize == outSize && inSize >= sizeof(SCSI_PASS_THROUGH)) {
            DWORD error = classUnit ? model_.PassThroughRefusal(device) : ERROR_SUCCESS;
            if (error == ERROR_SUCCESS)
                error = PassThrough(port, classUnit, static_cast<BYTE *>(out), outSize, returned);
            model_.Tick(); // a request boundary
            return error;
        }
        DWORD error = ERROR_INVALID_FUNCTION;
        if (classUnit && model_.Control(device, code, in, inSize, &error) && log_) {
            std::fprintf(log_, "CdRom%d control=%lX error=%lu\n", classUnit->cdRom,
                         static_cast<unsigned long>(code), static_cast<unsigned long>(error));
            std::fflush(log_);
        }
        return error;
    }

    void CloseDevice(HANDLE device) override {
        std::lock_guard<std::mutex> hold(lock_);
        model_.Close(device);
    }

    bool IsCdRomDrive(char) override { return false; }

    void SignalEvent(HANDLE event) override { SetEvent(event); }

  private:
    TVirtualUnit *ClassUnit(unsigned n) {
        for (TVirtualUnit &unit : units_)
            if (unit.cdRom == int(n))
                return &unit;
        return nullptr;
    }

    TVirtualUnit *UnitAt(BYTE adapter, BYTE target) {
        for (TVirtualUnit &unit : units_)
            if (unit.scenario->adapter == adapter && unit.scenario->target == target)
                return &unit;
        return nullptr;
    }

    // IOCTL_SCSI_GET_CAPABILITIES: the scenario's limits, the same on every port.
    DWORD Capabilities(void *out, DWORD *returned) {
        IO_SCSI_CAPABILITIES caps{};
        caps.Length = sizeof caps;
        caps.MaximumTransferLength = scenario_.windows.maxTransfer;
        caps.MaximumPhysicalPages = scenario_.windows.maxPages;
        std::memcpy(out, &caps, sizeof caps);
        *returned = sizeof caps;
        return ERROR_SUCCESS;
    }

    // IOCTL_SCSI_GET_INQUIRY_DATA (ntddscsi.h): a port of empty buses, or the one bus of a
    // scenario adapter with its units.
    DWORD InquiryData(unsigned port, void *out, DWORD outSize, DWORD *returned) {
        const bool empty = port < emptyPorts_;
        const BYTE buses = empty ? scenario_.windows.emptyBuses[port] : 1;
        const size_t busAt = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
        std::vector<BYTE> answer(busAt + buses * sizeof(SCSI_BUS_DATA));
        answer[0] = buses;
        SCSI_BUS_DATA bus{};
        bus.InitiatorBusId = 7;
        for (BYTE b = 0; b < buses; ++b)
            std::memcpy(&answer[busAt + b * sizeof bus], &bus, sizeof bus);
        size_t previous = 0;
        const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
        for (const TVirtualUnit &unit : units_) {
            if (empty || unit.scenario->adapter != port - emptyPorts_)
                continue;
            const size_t at = answer.size();
            answer.resize(at + header + InquiryLength);
            if (previous)
                std::memcpy(&answer[previous + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset)],
                            &at, sizeof(ULONG));
            else
                bus.InquiryDataOffset = ULONG(at);
            SCSI_INQUIRY_DATA entry{};
            entry.TargetId = unit.scenario->target;
            entry.DeviceClaimed = unit.claimed;
            entry.InquiryDataLength = InquiryLength;
            std::memcpy(&answer[at], &entry, header);
            std::memcpy(&answer[at + header], unit.scenario->inquiry.data(), InquiryLength);
            // The type the port reports is the scenario's, as SC_GET_DEV_TYPE reports it.
            answer[at + header] = BYTE((answer[at + header] & 0xE0) | unit.scenario->type);
            ++bus.NumberOfLogicalUnits;
            previous = at;
        }
        if (!empty)
            std::memcpy(&answer[busAt], &bus, sizeof bus);
        if (outSize < answer.size())
            return ERROR_INSUFFICIENT_BUFFER;
        std::memcpy(out, answer.data(), answer.size());
        *returned = DWORD(answer.size());
        return ERROR_SUCCESS;
    }

    ScsiOutcome Execute(TVirtualUnit &unit, const ScsiCommand &command) {
        return unit.loader ? unit.loader->Execute(command)
                           : ExecutePlainCommand(unit.scenario->inquiry, command);
    }

    // A command of the class driver or the file system, to the class driver model's unit.
    void MachineCommand(unsigned cdRom, const char *who, const BYTE *cdb, BYTE length, DWORD in) {
        TVirtualUnit *unit = ClassUnit(cdRom);
        std::vector<BYTE> data(in);
        ScsiCommand command;
        command.cdb = cdb;
        command.cdbLength = length;
        command.dataLength = in;
        command.direction = in ? DataDirection::In : DataDirection::None;
        command.dataIn = in ? data.data() : nullptr;
        SCSI_PASS_THROUGH header{};
        header.TargetId = unit->scenario->target;
        header.CdbLength = length;
        header.DataIn = in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
        header.DataTransferLength = in;
        std::memcpy(header.Cdb, cdb, length);
        const ScsiOutcome outcome = Execute(*unit, command);
        Log("CdRom" + std::to_string(cdRom), who, header, &outcome);
    }

    // The port refuses a transfer beyond its capabilities (IO_SCSI_CAPABILITIES; classpnp and
    // the port check the pass-through against them): longer than MaximumTransferLength, or over
    // more pages than MaximumPhysicalPages of the system's copy of the buffer, which starts on a
    // page boundary.
    bool BeyondCapabilities(const SCSI_PASS_THROUGH &header) const {
        const ULONG pages =
            (header.DataBufferOffset % 0x1000 + header.DataTransferLength + 0xFFF) / 0x1000;
        return header.DataTransferLength > scenario_.windows.maxTransfer ||
               pages > scenario_.windows.maxPages;
    }

    // A hung command: the port lets its time-out (TimeOutValue seconds) run out, resets the bus
    // and fails it with STATUS_IO_TIMEOUT (SRB_STATUS_TIMEOUT).
    DWORD PortTimeout(const std::string &device, SCSI_PASS_THROUGH &header) {
        Sleep(header.TimeOutValue * kTimeoutSecondMs);
        Log(device, "program", header, nullptr);
        return ERROR_SEM_TIMEOUT;
    }

    DWORD PassThrough(unsigned port, TVirtualUnit *classUnit, BYTE *buffer, DWORD size,
                      DWORD *returned) {
        SCSI_PASS_THROUGH header;
        std::memcpy(&header, buffer, sizeof header);
        if (header.Length != sizeof header || header.CdbLength > 16 ||
            header.DataBufferOffset + header.DataTransferLength > size ||
            header.SenseInfoOffset + header.SenseInfoLength > size || BeyondCapabilities(header))
            return ERROR_INVALID_PARAMETER;
        // The class driver fills in its own unit's address; the port takes the request's.
        TVirtualUnit *unit = classUnit;
        if (!unit && port >= emptyPorts_ && header.PathId == 0 && header.Lun == 0)
            unit = UnitAt(BYTE(port - emptyPorts_), header.TargetId);
        if (!unit)
            return ERROR_DEVICE_NOT_CONNECTED;
        if (unit->claimed && !classUnit)
            return ERROR_INVALID_FUNCTION; // the port refuses a unit its class driver owns
        const std::string device = classUnit ? "CdRom" + std::to_string(classUnit->cdRom)
                                             : "Scsi" + std::to_string(port) + ":";
        const FaultRule *fault =
            faults_.Count(unit->scenario->adapter, unit->scenario->target, header.Cdb[0]);
        if (fault && fault->action == FaultAction::Hang)
            return PortTimeout(device, header);

        ScsiCommand command;
        command.cdb = header.Cdb;
        command.cdbLength = header.CdbLength;
        command.dataLength = header.DataTransferLength;
        if (header.DataTransferLength > 0 && header.DataIn == SCSI_IOCTL_DATA_IN) {
            command.direction = DataDirection::In;
            command.dataIn = buffer + header.DataBufferOffset;
        } else if (header.DataTransferLength > 0 && header.DataIn == SCSI_IOCTL_DATA_OUT) {
            command.direction = DataDirection::Out;
            command.dataOut = buffer + header.DataBufferOffset;
        }
        const ScsiOutcome outcome = Execute(*unit, command);
        Log(device, "program", header, &outcome);
        if (outcome.fault == TransferFault::WrongDirection)
            return ERROR_INVALID_PARAMETER;
        // A data phase shorter or longer than the buffer: the port's warning,
        // STATUS_BUFFER_OVERFLOW for SRB_STATUS_DATA_OVERRUN, with the answer filled in.
        const bool partial = command.direction == DataDirection::In &&
                             (outcome.transferred < header.DataTransferLength ||
                              outcome.fault == TransferFault::Overrun);
        header.ScsiStatus = outcome.status;
        if (command.direction == DataDirection::In)
            header.DataTransferLength = outcome.transferred;
        header.SenseInfoLength = outcome.status == ScsiStatusCheckCondition
                                     ? BYTE(std::min<size_t>(header.SenseInfoLength, SenseLength))
                                     : 0;
        std::memcpy(buffer + header.SenseInfoOffset, outcome.sense.data(), header.SenseInfoLength);
        std::memcpy(buffer, &header, sizeof header);
        *returned = size;
        return partial ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }

    // One line per command; a command the port timed out has "timed-out" for its status.
    void Log(const std::string &device, const char *who, const SCSI_PASS_THROUGH &header,
             const ScsiOutcome *outcome) {
        if (!log_)
            return;
        std::fprintf(log_, "%s by=%s path=%u target=%u lun=%u dir=%u len=%lu timeout=%lu cdb=",
                     device.c_str(), who, header.PathId, header.TargetId, header.Lun, header.DataIn,
                     static_cast<unsigned long>(header.DataTransferLength),
                     static_cast<unsigned long>(header.TimeOutValue));
        for (unsigned i = 0; i < header.CdbLength; ++i)
            std::fprintf(log_, "%02X", header.Cdb[i]);
        if (outcome)
            std::fprintf(log_, " status=%02X sense=%02X-%02X-%02X\n", outcome->status,
                         outcome->sense[2], outcome->sense[12], outcome->sense[13]);
        else
            std::fprintf(log_, " timed-out\n");
        std::fflush(log_);
    }

    std::mutex lock_; // one command at a time reaches the models, whichever adapter sends it
    Scenario scenario_;
    std::string error_;
    bool scenarioRead_;
    TClassDriverModel model_;
    std::vector<TVirtualUnit> units_;
    TFaultCounter faults_;
    unsigned emptyPorts_ = 0;
    std::FILE *log_ = nullptr;
    bool ready_ = false;
};

} // namespace

TDeviceBackEnd &SystemBackEnd() {
    static TScenarioPassThrough backEnd;
    return backEnd;
}
