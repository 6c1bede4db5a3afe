#include "sim/aspi/SimManager.h"

#include "scsi/SrbCompletion.h"
#include "sim/aspi/ProgressProbe.h"
#include "sim/aspi/RequestCheck.h"
#include "sim/trace/SimTrace.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace {

std::string ScenarioPath(const std::wstring &modulePath) {
    char buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("M770B_SIM_SCENARIO", buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer)
        return buffer;
    std::string module(modulePath.begin(), modulePath.end()); // ASCII folders only here
    std::string folder = FolderOf(module);
    return folder.empty() ? "scenario.txt" : folder + "\\scenario.txt";
}

void CopyText(BYTE *field, size_t size, const char *text) {
    std::memset(field, 0, size);
    std::memcpy(field, text, std::min(size, std::strlen(text)));
}

bool SameCommand(const SRB_ExecSCSICmd &a, const SRB_ExecSCSICmd &b) {
    return a.SRB_Cmd == b.SRB_Cmd && a.SRB_HaId == b.SRB_HaId && a.SRB_Flags == b.SRB_Flags &&
           a.SRB_Target == b.SRB_Target && a.SRB_Lun == b.SRB_Lun &&
           a.SRB_BufLen == b.SRB_BufLen && a.SRB_BufPointer == b.SRB_BufPointer &&
           a.SRB_SenseLen == b.SRB_SenseLen && a.SRB_CDBLen == b.SRB_CDBLen &&
           a.SRB_PostProc == b.SRB_PostProc &&
           std::memcmp(a.CDBByte, b.CDBByte, sizeof a.CDBByte) == 0;
}

// Whether the device is the one to execute a request the rule hit (or no rule hit it).
bool DeviceRuns(const FaultRule *fault) {
    return !fault || fault->action == FaultAction::Delay || fault->action == FaultAction::Data ||
           fault->action == FaultAction::Hold;
}

struct Completion {
    BYTE status;
    BYTE hastat;
    BYTE targstat;
    SenseData sense;
    uint32_t transferred;
};

Completion FromOutcome(const ScsiOutcome &outcome, BYTE checkConditionStatus) {
    Completion done{SS_COMP, HASTAT_OK, outcome.status, outcome.sense, outcome.transferred};
    if (outcome.fault == TransferFault::Overrun) {
        done.status = SS_ERR;
        done.hastat = HASTAT_DO_DU;
    } else if (outcome.fault == TransferFault::WrongDirection) {
        done.status = SS_ERR;
        done.hastat = HASTAT_PHASE_ERR;
    } else if (outcome.status != ScsiStatusGood) {
        done.status = checkConditionStatus;
    }
    return done;
}

} // namespace

TSimManager::TSimManager(HMODULE self) : self_(self) {
    InitializeCriticalSection(&lock_);
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    modulePath_.assign(path, length < MAX_PATH ? length : 0);
    Load();
}

TSimManager::~TSimManager() {
    if (trace_)
        std::fclose(trace_);
    DeleteCriticalSection(&lock_);
}

void TSimManager::Load() {
    std::string path = ScenarioPath(modulePath_);
    std::string error;
    bool parsed = ReadScenarioFile(path, scenario_, error);
    // A LUN that goes away and a hang-up sent to a Linux process group need the kernel's SCSI
    // target (m770b-tcmu); a block has no LUN.
    if (parsed && UnsupportedFault(scenario_,
                                   {FaultAction::Answer, FaultAction::Disappear, FaultAction::Delay,
                                    FaultAction::Hang, FaultAction::Data, FaultAction::Hold})) {
        parsed = false;
        error = path + ": actions remove and hangup are not offered by the virtual ASPI manager";
    }
    if (scenario_.tracePath.empty())
        scenario_.tracePath = FolderOf(path).empty() ? "trace.txt" : FolderOf(path) + "\\trace.txt";
    trace_ = std::fopen(scenario_.tracePath.c_str(), "ab");
    WriteTrace(TTraceLine("load")
                   .Dec("t", Now())
                   .Dec("pid", GetCurrentProcessId())
                   .Text("scenario", path)
                   .Line());
    if (parsed) {
        try {
            for (const DeviceScenario &device : scenario_.devices) {
                std::unique_ptr<TLoaderModel> loader;
                if (device.kind == DeviceKind::Loader)
                    loader.reset(new TLoaderModel(device.inquiry, device.identity, device.flashPath));
                devices_.push_back(Device{&device, std::move(loader)});
            }
            faults_.Reset(scenario_.faults);
            ready_ = true;
        } catch (const std::exception &e) {
            error = e.what();
            devices_.clear();
        }
    }
    if (!ready_) {
        WriteTrace(TTraceLine("error").Dec("t", Now()).Text("text", error).Line());
        std::fprintf(stderr, "wnaspi32 (virtual loader drive): %s\n", error.c_str());
    }
}

uint32_t TSimManager::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint32_t>((now.QuadPart - start_.QuadPart) * 1000 / frequency_.QuadPart);
}

void TSimManager::WriteTrace(const std::string &line) {
    if (!trace_)
        return;
    std::fputs(line.c_str(), trace_);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

DWORD TSimManager::SupportInfo() {
    DWORD info = ready_ ? DWORD(scenario_.supportStatus) << 8 | scenario_.adapters
                        : DWORD(SS_FAILED_INIT) << 8;
    EnterCriticalSection(&lock_);
    WriteTrace(TTraceLine("info").Dec("t", Now()).Hex("ret", info, 8).Line());
    LeaveCriticalSection(&lock_);
    return info;
}

bool TSimManager::Answers(uint8_t adapter) const { return scenario_.answering[adapter]; }

TSimManager::Device *TSimManager::FindDevice(uint8_t adapter, uint8_t target) {
    for (Device &device : devices_)
        if (device.scenario->adapter == adapter && device.scenario->target == target)
            return &device;
    return nullptr;
}

DWORD TSimManager::Send(void *block) {
    if (!block)
        return SS_INVALID_SRB;
    auto *header = static_cast<SRB_Header *>(block);
    // Read before the lock: from a thread other than the interface thread the probe waits for it.
    const ProgressView view =
        header->SRB_Cmd == SC_EXEC_SCSI_CMD ? VisibleProgress() : ProgressView();
    EnterCriticalSection(&lock_);
    uint32_t seq = ++seq_;
    TTraceLine line("req");
    line.Dec("seq", seq).Dec("t", Now()).Hex("cmd", header->SRB_Cmd).Dec("ha", header->SRB_HaId);
    if (view.bar >= 0)
        line.Dec("bar", static_cast<uint64_t>(view.bar))
            .Bytes("title", reinterpret_cast<const uint8_t *>(view.title.data()), view.title.size())
            .Bytes("label", reinterpret_cast<const uint8_t *>(view.label.data()), view.label.size())
            .Dec("windows", static_cast<uint64_t>(view.windows));
    DWORD result;
    if (!ready_) {
        result = SS_FAILED_INIT;
        line.Hex("ret", result).Text("refused", "init");
        header->SRB_Status = static_cast<BYTE>(result);
    } else if (header->SRB_Cmd == SC_HA_INQUIRY) {
        result = InquireAdapter(*static_cast<SRB_HAInquiry *>(block), line);
    } else if (header->SRB_Cmd == SC_GET_DEV_TYPE) {
        result = GetDeviceType(*static_cast<SRB_GDEVBlock *>(block), line);
    } else if (header->SRB_Cmd == SC_EXEC_SCSI_CMD) {
        result = Execute(*static_cast<SRB_ExecSCSICmd *>(block), seq, line);
    } else {
        result = SS_INVALID_SRB;
        line.Hex("ret", result).Text("refused", "cmd");
        header->SRB_Status = static_cast<BYTE>(result);
    }
    WriteTrace(line.Line());
    LeaveCriticalSection(&lock_);
    return result;
}

DWORD TSimManager::InquireAdapter(SRB_HAInquiry &srb, TTraceLine &line) {
    if (!Answers(srb.SRB_HaId)) {
        srb.SRB_Status = SS_INVALID_HA;
        line.Hex("ret", SS_INVALID_HA).Text("refused", "ha");
        return SS_INVALID_HA;
    }
    srb.HA_Count = scenario_.adapters;
    srb.HA_SCSI_ID = 7;
    CopyText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, "ASPI for WIN32");
    CopyText(srb.HA_Identifier, sizeof srb.HA_Identifier, "M770B SIM");
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[3] = 8; // targets per bus
    // ASPI for Win32's place for the adapter's maximum transfer length, least significant first.
    for (int i = 0; i < 4; ++i)
        srb.HA_Unique[4 + i] = static_cast<BYTE>(scenario_.maxTransfer >> (8 * i));
    srb.SRB_Status = SS_COMP;
    line.Hex("ret", SS_COMP);
    return SS_COMP;
}

DWORD TSimManager::GetDeviceType(SRB_GDEVBlock &srb, TTraceLine &line) {
    line.Dec("target", srb.SRB_Target).Dec("lun", srb.SRB_Lun);
    BYTE status = SS_COMP;
    const char *refused = nullptr;
    Device *device = nullptr;
    if (!Answers(srb.SRB_HaId))
        status = SS_INVALID_HA, refused = "ha";
    else if (srb.SRB_Target > 7)
        status = SS_INVALID_SRB, refused = "target";
    else if (srb.SRB_Lun != 0 || !(device = FindDevice(srb.SRB_HaId, srb.SRB_Target)))
        status = SS_NO_DEVICE;
    if (status == SS_NO_DEVICE)
        srb.SRB_DeviceType = DTYPE_UNKNOWN;
    else if (device)
        srb.SRB_DeviceType = device->scenario->type;
    srb.SRB_Status = status;
    line.Hex("ret", status);
    if (device)
        line.Hex("type", srb.SRB_DeviceType);
    if (refused)
        line.Text("refused", refused);
    return status;
}

DWORD TSimManager::Execute(SRB_ExecSCSICmd &srb, uint32_t seq, TTraceLine &line) {
    bool event = (srb.SRB_Flags & SRB_EVENT_NOTIFY) && srb.SRB_PostProc;
    line.Dec("target", srb.SRB_Target)
        .Dec("lun", srb.SRB_Lun)
        .Hex("flags", srb.SRB_Flags)
        .Dec("buflen", srb.SRB_BufLen)
        .Dec("senselen", srb.SRB_SenseLen)
        .Dec("cdblen", srb.SRB_CDBLen)
        .Bytes("cdb", srb.CDBByte, std::min<size_t>(srb.SRB_CDBLen, sizeof srb.CDBByte))
        .Dec("event", event ? 1 : 0);
    BlockRefusal refusal = CheckExecuteBlock(srb);
    const uint32_t limit =
        scenario_.maxTransfer ? scenario_.maxTransfer : Scenario::DefaultMaxTransfer;
    if (!refusal.reason && srb.SRB_BufLen > limit)
        refusal = {"toobig", SS_BUFFER_TO_BIG};
    if (!refusal.reason && !Answers(srb.SRB_HaId))
        refusal = {"ha", SS_INVALID_HA};
    if (!refusal.reason && pending_.count(&srb))
        refusal = {"busy", SS_INVALID_SRB};
    if (!refusal.reason && !running_ && !StartWorker())
        refusal = {"thread", SS_ASPI_IS_BUSY};
    if (refusal.reason) {
        line.Hex("ret", refusal.status).Text("refused", refusal.reason);
        // A refused block gets its status; a block that is still pending is left alone, for
        // it belongs to the request in progress.
        if (std::strcmp(refusal.reason, "busy") != 0 || !pending_.count(&srb))
            srb.SRB_Status = refusal.status;
        return refusal.status;
    }
    line.Hex("ret", SS_PENDING);
    if ((srb.SRB_Flags & SRB_DIR_OUT) && srb.SRB_BufPointer)
        line.Text("digest", DigestText(Fnv1a64(srb.SRB_BufPointer, srb.SRB_BufLen)));

    const FaultRule *fault = faults_.Count(srb.SRB_HaId, srb.SRB_Target, srb.CDBByte[0]);
    Job job{&srb, srb, seq, 0, FindDevice(srb.SRB_HaId, srb.SRB_Target), fault, nullptr};
    if (job.fault)
        line.Text("fault", FaultActionName(job.fault->action));
    if (job.fault && job.fault->action == FaultAction::Hold) {
        const std::string name = HeldRequestEventName(GetCurrentProcessId(), seq);
        job.release = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    }
    srb.SRB_Status = SS_PENDING;
    pending_.insert(&srb);
    if (job.fault && job.fault->action == FaultAction::Hang)
        return SS_PENDING; // accepted, never completed, never executed
    uint32_t latency = job.device ? job.device->scenario->latency.ForOpcode(srb.CDBByte[0]) : 0;
    if (job.fault && job.fault->action == FaultAction::Delay)
        latency = job.fault->delayMs;
    job.due = Now() + latency;
    queue_.push_back(job);
    return SS_PENDING;
}

// Takes a reference on this module for the worker, which gives it back as it ends
// (FreeLibraryAndExitThread), so a FreeLibrary by the program never unmaps running code.
bool TSimManager::StartWorker() {
    HMODULE reference = LoadLibraryW(modulePath_.c_str());
    if (!reference)
        return false;
    HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, this, 0, nullptr);
    if (!thread) {
        FreeLibrary(reference);
        return false;
    }
    CloseHandle(thread);
    running_ = true;
    return true;
}

DWORD WINAPI TSimManager::WorkerEntry(void *self) {
    auto *manager = static_cast<TSimManager *>(self);
    manager->Worker();
    FreeLibraryAndExitThread(manager->self_, 0);
}

void TSimManager::Worker() {
    for (;;) {
        EnterCriticalSection(&lock_);
        if (queue_.empty()) {
            running_ = false;
            LeaveCriticalSection(&lock_);
            return;
        }
        Job job = queue_.front();
        queue_.pop_front();
        LeaveCriticalSection(&lock_);
        if (job.release) {
            // Held until the test lets it go; the device runs it then, at once.
            WaitForSingleObject(job.release, INFINITE);
            CloseHandle(job.release);
            job.due = 0;
        }
        uint32_t now = Now();
        if (job.due > now)
            Sleep(job.due - now);
        Complete(job);
    }
}

void TSimManager::Complete(const Job &job) {
    SRB_ExecSCSICmd &srb = *job.srb;
    // What is needed after the status is final is taken first: from then on the block is the
    // program's again.
    void *post = srb.SRB_PostProc;
    BYTE flags = srb.SRB_Flags;
    bool changed = !SameCommand(srb, job.submitted);

    const SRB_ExecSCSICmd &sent = job.submitted;
    Completion done{SS_ERR, HASTAT_SEL_TO, 0, SenseData{}, 0};
    if (!DeviceRuns(job.fault)) {
        done = Completion{job.fault->status, job.fault->hastat, job.fault->targstat,
                          job.fault->sense, 0};
    } else if (job.device) {
        ScsiCommand command;
        command.cdb = sent.CDBByte;
        command.cdbLength = sent.SRB_CDBLen;
        command.dataLength = sent.SRB_BufPointer ? sent.SRB_BufLen : 0;
        if (sent.SRB_Flags & SRB_DIR_IN) {
            command.direction = DataDirection::In;
            command.dataIn = sent.SRB_BufPointer;
        } else if (sent.SRB_Flags & SRB_DIR_OUT) {
            command.direction = DataDirection::Out;
            command.dataOut = sent.SRB_BufPointer;
        }
        ScsiOutcome outcome = job.device->loader
                                  ? job.device->loader->Execute(command)
                                  : ExecutePlainCommand(job.device->scenario->inquiry, command);
        done = FromOutcome(outcome, scenario_.checkConditionStatus);
        const FaultRule *fault = job.fault;
        if (fault && fault->action == FaultAction::Data && command.dataIn)
            for (size_t i = 0; i < fault->data.size(); ++i)
                if (fault->dataOffset + i < done.transferred)
                    command.dataIn[fault->dataOffset + i] = fault->data[i];
    }

    srb.SRB_HaStat = done.hastat;
    srb.SRB_TargStat = done.targstat;
    std::memcpy(srb.SenseArea, done.sense.data(),
                std::min<size_t>(sent.SRB_SenseLen, sizeof srb.SenseArea));

    EnterCriticalSection(&lock_);
    TTraceLine line("done");
    line.Dec("seq", job.seq)
        .Dec("t", Now())
        .Hex("status", done.status)
        .Hex("hastat", done.hastat)
        .Hex("targstat", done.targstat)
        .Dec("xfer", done.transferred)
        .Bytes("sense", done.sense.data(), done.sense.size());
    if (changed)
        line.Dec("changed", 1);
    WriteTrace(line.Line());
    pending_.erase(job.srb);
    LeaveCriticalSection(&lock_);

    FinishSrb(job.srb, done.status, flags, post);
}
