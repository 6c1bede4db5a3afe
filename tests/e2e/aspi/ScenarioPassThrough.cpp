// The back end of the end-to-end build of our ASPI manager: Windows' SCSI port and CD-ROM class
// drivers played by the virtual loader drive. It reads the virtual drive's scenario file
// (M770B_SIM_SCENARIO, else scenario.txt beside this DLL) and offers every adapter A of the
// scenario as the port \\.\ScsiA: with one bus. A CD-ROM-class unit (type 5) is claimed, as
// Windows' CD-ROM class driver claims it, and reached through \\.\CdRomN (numbered in the order
// of the scenario); other units are reached through their port. Each pass-through goes to the
// same loader model the simulated ASPI manager uses, and is written as one line to
// "passthrough.txt" in the scenario's folder. Latencies and fault rules of the scenario are not
// played here; the simulated manager covers them.
#include "aspi/DeviceBackEnd.h"
#include "aspi/ScsiIoctl.h"
#include "scsi/wnaspi32.h"
#include "sim/loader/LoaderModel.h"
#include "sim/scenario/Scenario.h"

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
    int cdRom; // class device number, -1 when unclaimed
};

// Handles: 1 + the port number for ports, 0x1000 + N for \\.\CdRomN.
constexpr uintptr_t kPortHandle = 1;
constexpr uintptr_t kCdRomHandle = 0x1000;

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
    TScenarioPassThrough() {
        const std::string path = ScenarioFile();
        std::string error;
        if (!ReadScenarioFile(path, scenario_, error)) {
            std::fprintf(stderr, "scenario %s: %s\n", path.c_str(), error.c_str());
            return; // no port opens: the manager offers no adapter
        }
        const std::string folder = FolderOf(path);
        log_ = std::fopen((folder.empty() ? "" : folder + "\\").append("passthrough.txt").c_str(),
                          "a");
        int cdRoms = 0;
        for (const DeviceScenario &device : scenario_.devices) {
            TVirtualUnit unit{&device, nullptr, device.type == DTYPE_CDROM, -1};
            if (unit.claimed)
                unit.cdRom = cdRoms++;
            if (device.kind == DeviceKind::Loader)
                unit.loader = std::make_unique<TLoaderModel>(device.inquiry, device.identity,
                                                             device.flashPath);
            units_.push_back(std::move(unit));
        }
        ready_ = true;
    }

    DWORD OpenDevice(const char *name, HANDLE *device) override {
        *device = INVALID_HANDLE_VALUE;
        unsigned n = 0;
        char tail = 0;
        if (!ready_)
            return ERROR_FILE_NOT_FOUND;
        if (std::sscanf(name, "\\\\.\\Scsi%u%c", &n, &tail) == 2 && tail == ':' &&
            n < scenario_.adapters) {
            *device = reinterpret_cast<HANDLE>(kPortHandle + n);
            return ERROR_SUCCESS;
        }
        if (std::sscanf(name, "\\\\.\\CdRom%u", &n) == 1 && ClassUnit(n)) {
            *device = reinterpret_cast<HANDLE>(kCdRomHandle + n);
            return ERROR_SUCCESS;
        }
        return ERROR_FILE_NOT_FOUND;
    }

    DWORD ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                        DWORD *returned) override {
        std::lock_guard<std::mutex> hold(lock_);
        *returned = 0;
        const uintptr_t h = reinterpret_cast<uintptr_t>(device);
        TVirtualUnit *classUnit =
            h >= kCdRomHandle ? ClassUnit(unsigned(h - kCdRomHandle)) : nullptr;
        const bool isPort = h >= kPortHandle && h < kPortHandle + scenario_.adapters;
        if (code == IOCTL_SCSI_GET_INQUIRY_DATA && isPort)
            return InquiryData(BYTE(h - kPortHandle), out, outSize, returned);
        if (code == IOCTL_SCSI_GET_ADDRESS && classUnit && outSize >= sizeof(SCSI_ADDRESS)) {
            SCSI_ADDRESS address{sizeof(SCSI_ADDRESS), classUnit->scenario->adapter, 0,
                                 classUnit->scenario->target, 0};
            std::memcpy(out, &address, sizeof address);
            *returned = sizeof address;
            return ERROR_SUCCESS;
        }
        if (code == IOCTL_SCSI_PASS_THROUGH && (isPort || classUnit) && in == out &&
            inSize == outSize && inSize >= sizeof(SCSI_PASS_THROUGH))
            return PassThrough(isPort ? BYTE(h - kPortHandle) : 0, classUnit,
                               static_cast<BYTE *>(out), outSize, returned);
        return ERROR_INVALID_FUNCTION;
    }

    void CloseDevice(HANDLE) override {}

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

    DWORD InquiryData(BYTE adapter, void *out, DWORD outSize, DWORD *returned) {
        std::vector<BYTE> answer(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA));
        answer[0] = 1;
        SCSI_BUS_DATA bus{};
        bus.InitiatorBusId = 7;
        size_t previous = 0;
        const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
        for (const TVirtualUnit &unit : units_) {
            if (unit.scenario->adapter != adapter)
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
        std::memcpy(&answer[offsetof(SCSI_ADAPTER_BUS_INFO, BusData)], &bus, sizeof bus);
        if (outSize < answer.size())
            return ERROR_INSUFFICIENT_BUFFER;
        std::memcpy(out, answer.data(), answer.size());
        *returned = DWORD(answer.size());
        return ERROR_SUCCESS;
    }

    DWORD PassThrough(BYTE port, TVirtualUnit *classUnit, BYTE *buffer, DWORD size,
                      DWORD *returned) {
        SCSI_PASS_THROUGH header;
        std::memcpy(&header, buffer, sizeof header);
        if (header.Length != sizeof header || header.CdbLength > 16 ||
            header.DataBufferOffset + header.DataTransferLength > size ||
            header.SenseInfoOffset + header.SenseInfoLength > size)
            return ERROR_INVALID_PARAMETER;
        // The class driver fills in its own unit's address; the port takes the request's.
        TVirtualUnit *unit = classUnit;
        if (!unit && header.PathId == 0 && header.Lun == 0)
            unit = UnitAt(port, header.TargetId);
        if (!unit)
            return ERROR_DEVICE_NOT_CONNECTED;
        if (unit->claimed && !classUnit)
            return ERROR_INVALID_FUNCTION; // the port refuses a unit its class driver owns

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
        const ScsiOutcome outcome = unit->loader
                                        ? unit->loader->Execute(command)
                                        : ExecutePlainCommand(unit->scenario->inquiry, command);
        Log(classUnit ? "CdRom" + std::to_string(classUnit->cdRom)
                      : "Scsi" + std::to_string(port) + ":",
            header, outcome);
        if (outcome.fault == TransferFault::Overrun)
            return ERROR_MORE_DATA;
        if (outcome.fault == TransferFault::WrongDirection)
            return ERROR_INVALID_PARAMETER;
        header.ScsiStatus = outcome.status;
        if (command.direction == DataDirection::In)
            header.DataTransferLength = outcome.transferred;
        header.SenseInfoLength = outcome.status == ScsiStatusCheckCondition
                                     ? BYTE(std::min<size_t>(header.SenseInfoLength, SenseLength))
                                     : 0;
        std::memcpy(buffer + header.SenseInfoOffset, outcome.sense.data(), header.SenseInfoLength);
        std::memcpy(buffer, &header, sizeof header);
        *returned = size;
        return ERROR_SUCCESS;
    }

    void Log(const std::string &device, const SCSI_PASS_THROUGH &header,
             const ScsiOutcome &outcome) {
        if (!log_)
            return;
        std::fprintf(log_,
                     "%s path=%u target=%u lun=%u dir=%u len=%lu timeout=%lu cdb=", device.c_str(),
                     header.PathId, header.TargetId, header.Lun, header.DataIn,
                     static_cast<unsigned long>(header.DataTransferLength),
                     static_cast<unsigned long>(header.TimeOutValue));
        for (unsigned i = 0; i < header.CdbLength; ++i)
            std::fprintf(log_, "%02X", header.Cdb[i]);
        std::fprintf(log_, " status=%02X sense=%02X-%02X-%02X\n", outcome.status, outcome.sense[2],
                     outcome.sense[12], outcome.sense[13]);
        std::fflush(log_);
    }

    std::mutex lock_; // one command at a time reaches the models, whichever adapter sends it
    Scenario scenario_;
    std::vector<TVirtualUnit> units_;
    std::FILE *log_ = nullptr;
    bool ready_ = false;
};

} // namespace

TDeviceBackEnd &SystemBackEnd() {
    static TScenarioPassThrough backEnd;
    return backEnd;
}
