#include "tests/unit/fakes/FakeAspiManager.h"

#include <algorithm>
#include <cstring>

#include "scsi/AspiBinding.h"
#include "scsi/SrbCompletion.h"
#include "tests/unit/fakes/FakeSequence.h"

namespace {

FakeAspiManager *Installed;

} // namespace

FakeAspiManager::FakeAspiManager()
    : previousSupportInfo_(GetASPI32SupportInfoEntry), previousSendCommand_(SendASPI32CommandEntry),
      previousInstalled_(Installed) {
    Installed = this;
    GetASPI32SupportInfoEntry = &FakeAspiManager::SupportInfoEntry;
    SendASPI32CommandEntry = &FakeAspiManager::SendCommandEntry;
}

FakeAspiManager::~FakeAspiManager() {
    JoinLaterCompletions();
    GetASPI32SupportInfoEntry = previousSupportInfo_;
    SendASPI32CommandEntry = previousSendCommand_;
    Installed = previousInstalled_;
}

void FakeAspiManager::SetSupportInfo(DWORD value) {
    std::lock_guard<std::mutex> guard(lock_);
    supportInfo_ = value;
}

void FakeAspiManager::ScriptAdapter(BYTE ha, DWORD returnValue, BYTE adapterCount) {
    std::lock_guard<std::mutex> guard(lock_);
    adapters_[ha] = {returnValue, adapterCount};
}

void FakeAspiManager::ScriptDevice(BYTE ha, BYTE target, BYTE deviceType, DWORD returnValue) {
    std::lock_guard<std::mutex> guard(lock_);
    devices_[{ha, target}] = {returnValue, deviceType};
}

void FakeAspiManager::QueueExecAnswer(const ExecAnswer &answer) {
    std::lock_guard<std::mutex> guard(lock_);
    queued_.push_back(answer);
}

void FakeAspiManager::SetExecRule(std::function<ExecAnswer(const SRB_ExecSCSICmd &)> rule) {
    std::lock_guard<std::mutex> guard(lock_);
    rule_ = std::move(rule);
}

bool FakeAspiManager::CompletePending() {
    Pending pending;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (manual_.empty()) {
            return false;
        }
        pending = manual_.front();
        manual_.pop_front();
    }
    Complete(*pending.request, pending.answer);
    return true;
}

void FakeAspiManager::JoinLaterCompletions() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(lock_);
        threads.swap(later_);
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
}

std::vector<FakeAspiManager::Submission> FakeAspiManager::Submissions() const {
    std::lock_guard<std::mutex> guard(lock_);
    return submissions_;
}

std::vector<FakeAspiManager::Submission> FakeAspiManager::ExecSubmissions() const {
    std::vector<Submission> exec;
    for (const Submission &submission : Submissions()) {
        if (submission.command == SC_EXEC_SCSI_CMD) {
            exec.push_back(submission);
        }
    }
    return exec;
}

int FakeAspiManager::SupportInfoCalls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return supportInfoCalls_;
}

FakeAspiManager::ExecAnswer FakeAspiManager::Good(std::vector<BYTE> dataIn) {
    ExecAnswer answer;
    answer.dataIn = std::move(dataIn);
    return answer;
}

FakeAspiManager::ExecAnswer FakeAspiManager::SenseError(BYTE key, BYTE asc, BYTE ascq) {
    ExecAnswer answer;
    answer.status = SS_ERR;
    answer.targStat = 0x02;
    answer.sense = FixedSense(key, asc, ascq);
    return answer;
}

FakeAspiManager::ExecAnswer FakeAspiManager::CheckCondition(BYTE key, BYTE asc, BYTE ascq) {
    ExecAnswer answer;
    answer.targStat = 0x02;
    answer.sense = FixedSense(key, asc, ascq);
    return answer;
}

std::vector<BYTE> FakeAspiManager::FixedSense(BYTE key, BYTE asc, BYTE ascq) {
    std::vector<BYTE> sense(18, 0);
    sense[0] = 0x70; // current error, fixed format
    sense[2] = key;
    sense[7] = 10; // additional sense length
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

DWORD __cdecl FakeAspiManager::SupportInfoEntry() {
    std::lock_guard<std::mutex> guard(Installed->lock_);
    ++Installed->supportInfoCalls_;
    return Installed->supportInfo_;
}

DWORD __cdecl FakeAspiManager::SendCommandEntry(LPSRB srb) {
    return Installed->Send(srb);
}

DWORD FakeAspiManager::Send(void *srb) {
    Submission submission{};
    submission.block = srb;
    submission.command = static_cast<SRB_Header *>(srb)->SRB_Cmd;
    // Copy only as many bytes as the block of that command has.
    switch (submission.command) {
    case SC_HA_INQUIRY:
        std::memcpy(&submission.adapterInquiry, srb, sizeof(SRB_HAInquiry));
        break;
    case SC_GET_DEV_TYPE:
        std::memcpy(&submission.deviceType, srb, sizeof(SRB_GDEVBlock));
        break;
    case SC_EXEC_SCSI_CMD: {
        std::memcpy(&submission.exec, srb, sizeof(SRB_ExecSCSICmd));
        const SRB_ExecSCSICmd &exec = submission.exec;
        if ((exec.SRB_Flags & SRB_DIR_OUT) && exec.SRB_BufPointer) {
            submission.dataOut.assign(exec.SRB_BufPointer, exec.SRB_BufPointer + exec.SRB_BufLen);
        }
        break;
    }
    default:
        break;
    }

    DWORD returned;
    switch (submission.command) {
    case SC_HA_INQUIRY:
        returned = AnswerAdapterInquiry(*static_cast<SRB_HAInquiry *>(srb));
        break;
    case SC_GET_DEV_TYPE:
        returned = AnswerDeviceType(*static_cast<SRB_GDEVBlock *>(srb));
        break;
    case SC_EXEC_SCSI_CMD:
        returned = AnswerExec(*static_cast<SRB_ExecSCSICmd *>(srb));
        break;
    default:
        static_cast<SRB_Header *>(srb)->SRB_Status = SS_INVALID_SRB;
        returned = SS_INVALID_SRB;
        break;
    }

    submission.returned = returned;
    submission.sequence = NextFakeSequence();
    std::lock_guard<std::mutex> guard(lock_);
    submissions_.push_back(std::move(submission));
    return returned;
}

DWORD FakeAspiManager::AnswerAdapterInquiry(SRB_HAInquiry &inquiry) {
    DWORD returned = SS_INVALID_HA;
    BYTE count = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = adapters_.find(inquiry.SRB_HaId);
        if (found != adapters_.end()) {
            returned = found->second.first;
            count = found->second.second;
        }
    }
    if (returned == SS_COMP) {
        inquiry.HA_Count = count;
        inquiry.HA_SCSI_ID = 7;
        std::memcpy(inquiry.HA_ManagerId, "FAKE ASPI       ", 16);
        std::memcpy(inquiry.HA_Identifier, "FAKE ADAPTER    ", 16);
    }
    inquiry.SRB_Status = static_cast<BYTE>(returned);
    return returned;
}

DWORD FakeAspiManager::AnswerDeviceType(SRB_GDEVBlock &request) {
    DWORD returned = SS_NO_DEVICE;
    BYTE type = DTYPE_UNKNOWN;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = devices_.find({request.SRB_HaId, request.SRB_Target});
        if (found != devices_.end()) {
            returned = found->second.first;
            type = found->second.second;
        }
    }
    if (returned == SS_COMP) {
        request.SRB_DeviceType = type;
    }
    request.SRB_Status = static_cast<BYTE>(returned);
    return returned;
}

DWORD FakeAspiManager::AnswerExec(SRB_ExecSCSICmd &request) {
    ExecAnswer answer;
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!queued_.empty()) {
            answer = queued_.front();
            queued_.pop_front();
        } else if (rule_) {
            auto rule = rule_;
            guard.unlock();
            answer = rule(request);
        }
    }
    switch (answer.completion) {
    case Completion::Immediate:
        Complete(request, answer);
        return answer.returnValue.value_or(answer.status);
    case Completion::Later: {
        std::lock_guard<std::mutex> guard(lock_);
        later_.emplace_back([&request, answer] {
            Sleep(answer.delayMs);
            Complete(request, answer);
        });
        break;
    }
    case Completion::Manual: {
        std::lock_guard<std::mutex> guard(lock_);
        manual_.push_back({&request, answer});
        break;
    }
    }
    return answer.returnValue.value_or(SS_PENDING);
}

// Like an ASPI manager: every output field first, SRB_Status last, then the signal. The block
// is not touched afterwards; the program may reuse it as soon as the status is final.
void FakeAspiManager::Complete(SRB_ExecSCSICmd &request, const ExecAnswer &answer) {
    const BYTE flags = request.SRB_Flags;
    HANDLE event = request.SRB_PostProc;
    request.SRB_HaStat = answer.haStat;
    request.SRB_TargStat = answer.targStat;
    if (!answer.sense.empty()) {
        std::memcpy(request.SenseArea, answer.sense.data(),
                    std::min<size_t>(answer.sense.size(), request.SRB_SenseLen));
    }
    if ((flags & SRB_DIR_IN) && request.SRB_BufPointer && !answer.dataIn.empty()) {
        std::memcpy(request.SRB_BufPointer, answer.dataIn.data(),
                    std::min<size_t>(answer.dataIn.size(), request.SRB_BufLen));
    }
    FinishSrb(&request, answer.status, flags, event, [&answer](HANDLE done) {
        if (answer.signalEvent)
            SetEvent(done);
    });
}
