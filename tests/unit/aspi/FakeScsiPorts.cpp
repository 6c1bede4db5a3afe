#include "tests/unit/aspi/FakeScsiPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool ParseName(const std::string &name, const char *prefix, const char *suffix, unsigned &n) {
    const size_t p = std::strlen(prefix), s = std::strlen(suffix);
    if (name.size() <= p + s || name.compare(0, p, prefix) != 0 ||
        name.compare(name.size() - s, s, suffix) != 0)
        return false;
    const std::string digits = name.substr(p, name.size() - p - s);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    n = static_cast<unsigned>(std::stoul(digits));
    return true;
}

std::string Hex(DWORD value) {
    char text[12];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(value));
    return text;
}

bool SameUnit(const SCSI_ADDRESS &a, const SCSI_ADDRESS &b) {
    return a.PortNumber == b.PortNumber && a.PathId == b.PathId && a.TargetId == b.TargetId &&
           a.Lun == b.Lun;
}

} // namespace

TClassDriverModel &TFakeScsiPorts::Model() {
    if (!model_)
        model_ = std::make_unique<TClassDriverModel>(
            windows, [this](unsigned unit, const char *who, const BYTE *cdb, BYTE, DWORD) {
                const SCSI_ADDRESS &a = unitAddresses_[unit];
                foreign_.push_back("Scsi" + std::to_string(a.PortNumber) + ":" +
                                   std::to_string(a.PathId) + ":" + std::to_string(a.TargetId) +
                                   " " + who + " " + Hex(cdb[0]));
            });
    return *model_;
}

// The class driver's unit at that address (one per address, however many names lead to it).
unsigned TFakeScsiPorts::ClassUnit(const SCSI_ADDRESS &address) {
    for (unsigned unit = 0; unit < unitAddresses_.size(); ++unit)
        if (SameUnit(unitAddresses_[unit], address))
            return unit;
    unitAddresses_.push_back(address);
    return Model().AddUnit();
}

DWORD TFakeScsiPorts::OpenDevice(const char *name, DWORD access, HANDLE *device) {
    std::lock_guard<std::mutex> hold(lock_);
    *device = INVALID_HANDLE_VALUE;
    const std::string text(name);
    auto refused = openErrors.find(text);
    if (refused != openErrors.end())
        return refused->second;
    unsigned n = 0;
    const SCSI_ADDRESS *address = ClassAddress(text);
    if (address) {
        const DWORD error = Model().Open(ClassUnit(*address), access, device);
        if (error != ERROR_SUCCESS)
            return error;
    } else if (ParseName(text, "\\\\.\\Scsi", ":", n) && ports.count(n)) {
        *device = reinterpret_cast<HANDLE>(nextHandle_++);
    } else {
        return ERROR_FILE_NOT_FOUND;
    }
    handles_[*device] = text;
    opened_.push_back(text);
    return ERROR_SUCCESS;
}

// The address of a class device (\\.\CdRomN, or a CD-ROM drive letter \\.\X:), or null.
const SCSI_ADDRESS *TFakeScsiPorts::ClassAddress(const std::string &name) {
    unsigned n = 0;
    if (ParseName(name, "\\\\.\\CdRom", "", n)) {
        auto found = cdRoms.find(n);
        return found == cdRoms.end() ? nullptr : &found->second;
    }
    if (name.size() == 6 && name.compare(0, 4, "\\\\.\\") == 0 && name[5] == ':') {
        auto found = cdDriveLetters.find(name[4]);
        return found == cdDriveLetters.end() ? nullptr : &found->second;
    }
    return nullptr;
}

void TFakeScsiPorts::CloseDevice(HANDLE device) {
    std::lock_guard<std::mutex> hold(lock_);
    if (model_)
        model_->Close(device);
    handles_.erase(device);
}

DWORD TFakeScsiPorts::ClassControl(HANDLE device, const std::string &name, DWORD code, void *in,
                                   DWORD inSize) {
    DWORD error = ERROR_INVALID_FUNCTION;
    if (!model_ || !model_->Knows(device) || !model_->Control(device, code, in, inSize, &error))
        return error;
    controls_.push_back(name.substr(4) + " " + Hex(code) + " " + Hex(error));
    return error;
}

DWORD TFakeScsiPorts::ControlDevice(HANDLE device, DWORD code, void *in, DWORD inSize, void *out,
                                    DWORD outSize, DWORD *returned) {
    std::unique_lock<std::mutex> hold(lock_);
    *returned = 0;
    auto open = handles_.find(device);
    if (open == handles_.end())
        return ERROR_INVALID_HANDLE;
    const std::string name = open->second;
    unsigned n = 0;
    const bool isPort = ParseName(name, "\\\\.\\Scsi", ":", n);
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA:
        return isPort ? InquiryData(n, out, outSize, returned) : ERROR_INVALID_FUNCTION;
    case IOCTL_SCSI_GET_CAPABILITIES: {
        if (!isPort || outSize < sizeof(IO_SCSI_CAPABILITIES))
            return ERROR_INVALID_FUNCTION;
        IO_SCSI_CAPABILITIES caps{};
        caps.Length = sizeof caps;
        caps.MaximumTransferLength = ports[n].maxTransfer;
        caps.MaximumPhysicalPages = ports[n].maxPages;
        std::memcpy(out, &caps, sizeof caps);
        *returned = sizeof caps;
        return ERROR_SUCCESS;
    }
    case IOCTL_SCSI_GET_ADDRESS: {
        const SCSI_ADDRESS *address = ClassAddress(name);
        if (!address || outSize < sizeof(SCSI_ADDRESS))
            return ERROR_INVALID_FUNCTION;
        std::memcpy(out, address, sizeof(SCSI_ADDRESS));
        *returned = sizeof(SCSI_ADDRESS);
        return ERROR_SUCCESS;
    }
    case IOCTL_SCSI_PASS_THROUGH: {
        if (in != out || inSize != outSize)
            return ERROR_INVALID_PARAMETER;
        const SCSI_ADDRESS *address = isPort ? nullptr : ClassAddress(name);
        static const TFakePort unseen{}; // a class device's port that is not to be opened
        auto found = ports.find(address ? address->PortNumber : n);
        const TFakePort &port = found == ports.end() ? unseen : found->second;
        DWORD error = model_ && model_->Knows(device) ? model_->PassThroughRefusal(device) : 0;
        hold.unlock();
        if (error == ERROR_SUCCESS)
            error = PassThrough(name, port, out, outSize, returned);
        hold.lock();
        if (model_)
            model_->Tick(); // a request boundary
        return error;
    }
    default:
        return ClassControl(device, name, code, in, inSize);
    }
}

// SCSI_ADAPTER_BUS_INFO, then the SCSI_INQUIRY_DATA chain of each bus with 36 INQUIRY bytes.
DWORD TFakeScsiPorts::InquiryData(unsigned port, void *out, DWORD outSize, DWORD *returned) {
    const TFakePort &fake = ports[port];
    if (fake.inquiryError != ERROR_SUCCESS)
        return fake.inquiryError;
    const size_t entrySize = offsetof(SCSI_INQUIRY_DATA, InquiryData) + 36;
    std::vector<BYTE> answer(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) +
                             fake.buses.size() * sizeof(SCSI_BUS_DATA));
    answer[0] = static_cast<BYTE>(fake.buses.size());
    for (size_t bus = 0; bus < fake.buses.size(); ++bus) {
        SCSI_BUS_DATA data{};
        data.NumberOfLogicalUnits = static_cast<UCHAR>(fake.buses[bus].units.size());
        data.InitiatorBusId = fake.buses[bus].initiatorId;
        data.InquiryDataOffset = fake.buses[bus].units.empty() ? 0 : ULONG(answer.size());
        std::memcpy(&answer[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA)],
                    &data, sizeof data);
        for (size_t u = 0; u < fake.buses[bus].units.size(); ++u) {
            const TFakeUnit &unit = fake.buses[bus].units[u];
            const size_t at = answer.size();
            answer.resize(at + entrySize);
            SCSI_INQUIRY_DATA entry{};
            entry.PathId = static_cast<UCHAR>(bus);
            entry.TargetId = unit.target;
            entry.Lun = unit.lun;
            entry.DeviceClaimed = unit.claimed;
            entry.InquiryDataLength = 36;
            entry.NextInquiryDataOffset =
                u + 1 < fake.buses[bus].units.size() ? ULONG(at + entrySize) : 0;
            std::memcpy(&answer[at], &entry, offsetof(SCSI_INQUIRY_DATA, InquiryData));
            answer[at + offsetof(SCSI_INQUIRY_DATA, InquiryData)] = unit.inquiry0;
        }
    }
    answer.resize(answer.size() + fake.inquiryPadding);
    if (outSize < answer.size())
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out, answer.data(), answer.size());
    *returned = static_cast<DWORD>(answer.size());
    return ERROR_SUCCESS;
}

DWORD TFakeScsiPorts::PassThrough(const std::string &name, const TFakePort &port, void *buffer,
                                  DWORD size, DWORD *returned) {
    BYTE *bytes = static_cast<BYTE *>(buffer);
    TPassThroughCall call{name, {}, {}};
    if (size < sizeof(SCSI_PASS_THROUGH))
        return ERROR_INVALID_PARAMETER;
    std::memcpy(&call.header, bytes, sizeof call.header);
    SCSI_PASS_THROUGH &header = call.header;
    if (header.Length != sizeof header ||
        header.DataBufferOffset + header.DataTransferLength > size ||
        header.SenseInfoOffset + header.SenseInfoLength > size ||
        (header.DataTransferLength > 0 &&
         header.SenseInfoOffset + header.SenseInfoLength > header.DataBufferOffset))
        return ERROR_INVALID_PARAMETER;
    // The port refuses a transfer beyond its capabilities (IO_SCSI_CAPABILITIES): longer than
    // MaximumTransferLength, or over more than MaximumPhysicalPages pages of the buffer, which
    // the system copies into a buffer of its own that starts on a page boundary.
    const ULONG pages =
        (header.DataBufferOffset % 0x1000 + header.DataTransferLength + 0xFFF) / 0x1000;
    if ((port.maxTransfer && header.DataTransferLength > port.maxTransfer) ||
        (port.maxPages && pages > port.maxPages))
        return ERROR_INVALID_PARAMETER;
    if (header.DataIn == SCSI_IOCTL_DATA_OUT)
        call.dataOut.assign(bytes + header.DataBufferOffset,
                            bytes + header.DataBufferOffset + header.DataTransferLength);
    const std::string lane = name + "/" + std::to_string(header.PathId);
    {
        std::lock_guard<std::mutex> hold(lock_);
        calls_.push_back(call);
        maxOverlap_ = std::max(maxOverlap_, ++inFlight_[lane]);
    }
    const TDeviceAnswer reply = answer(call);
    {
        std::lock_guard<std::mutex> hold(lock_);
        --inFlight_[lane];
    }
    if (reply.error != ERROR_SUCCESS && reply.error != ERROR_MORE_DATA)
        return reply.error;
    header.ScsiStatus = reply.scsiStatus;
    if (header.DataIn == SCSI_IOCTL_DATA_IN) {
        header.DataTransferLength =
            std::min<ULONG>(header.DataTransferLength, ULONG(reply.dataIn.size()));
        std::memcpy(bytes + header.DataBufferOffset, reply.dataIn.data(),
                    header.DataTransferLength);
    }
    header.SenseInfoLength =
        static_cast<UCHAR>(std::min<size_t>(header.SenseInfoLength, reply.sense.size()));
    std::memcpy(bytes + header.SenseInfoOffset, reply.sense.data(), header.SenseInfoLength);
    std::memcpy(bytes, &header, sizeof header);
    *returned = size;
    return reply.error;
}

void TFakeScsiPorts::WatchEvent(HANDLE event, const SRB_ExecSCSICmd *srb) {
    std::lock_guard<std::mutex> hold(lock_);
    watched_[event] = srb;
}

void TFakeScsiPorts::SignalEvent(HANDLE event) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto watched = watched_.find(event);
        if (watched != watched_.end()) {
            const SRB_ExecSCSICmd *srb = watched->second;
            signals_.push_back(
                {srb->SRB_Status, srb->SRB_HaStat, srb->SRB_TargStat, srb->SenseArea[0]});
        }
    }
    SetEvent(event);
}

std::vector<TFakeScsiPorts::TSignal> TFakeScsiPorts::Signals() const {
    std::lock_guard<std::mutex> hold(lock_);
    return signals_;
}

std::vector<TPassThroughCall> TFakeScsiPorts::Calls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
}

std::vector<std::string> TFakeScsiPorts::Controls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return controls_;
}

std::vector<std::string> TFakeScsiPorts::Foreign() const {
    std::lock_guard<std::mutex> hold(lock_);
    return foreign_;
}

std::vector<std::string> TFakeScsiPorts::Opened() const {
    std::lock_guard<std::mutex> hold(lock_);
    return opened_;
}

unsigned TFakeScsiPorts::OpenHandles() const {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<unsigned>(handles_.size());
}

unsigned TFakeScsiPorts::MaxOverlap() const {
    std::lock_guard<std::mutex> hold(lock_);
    return maxOverlap_;
}
