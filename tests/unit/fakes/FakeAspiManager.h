// A scripted ASPI manager for unit tests. While one exists it stands in the two entry points of
// scsi/AspiBinding.h (GetASPI32SupportInfoEntry, SendASPI32CommandEntry); its destructor puts
// back what was there. One made while another exists stands in for it until it goes.
//
// It records every request block submitted (a copy of the block as the program filled it and,
// for data-out requests, of the data) and answers as the test scripted it:
// - GetASPI32SupportInfo: SetSupportInfo(value); the low byte is the number of adapters.
// - SC_HA_INQUIRY: ScriptAdapter(ha, returnValue); adapters not scripted answer SS_INVALID_HA.
// - SC_GET_DEV_TYPE: ScriptDevice(ha, target, type[, returnValue]); others answer SS_NO_DEVICE.
// - SC_EXEC_SCSI_CMD: the first queued ExecAnswer (QueueExecAnswer), else the rule
//   (SetExecRule), else ExecAnswer{} (completes at once, SS_COMP, adapter and target GOOD).
//   An answer completes the request at once, later from a thread of its own, or only when the
//   test calls CompletePending (never, if it does not). Completion writes the adapter and target
//   status, the sense data and the data-in bytes first, SRB_Status last, and then signals the
//   event in SRB_PostProc (when SRB_EVENT_NOTIFY is set and the answer says so).
// - Any other SRB_Cmd: SS_INVALID_SRB.
//
// Example (discovery of one loader on adapter 0, target 3):
//     FakeAspiManager aspi;
//     aspi.SetSupportInfo(0x0101);
//     aspi.ScriptAdapter(0, SS_COMP);
//     aspi.ScriptDevice(0, 3, DTYPE_CDROM);
//     aspi.SetExecRule([](const SRB_ExecSCSICmd &r) {
//         return r.CDBByte[0] == 0x12 ? FakeAspiManager::Good(inquiryData) :
//         FakeAspiManager::Good();
//     });
#ifndef M770B_TESTS_FAKES_FAKEASPIMANAGER_H
#define M770B_TESTS_FAKES_FAKEASPIMANAGER_H

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "scsi/wnaspi32.h"

class FakeAspiManager {
  public:
    enum class Completion {
        Immediate, // final status before SendASPI32Command returns
        Later,     // SS_PENDING now; final status from another thread after delayMs
        Manual,    // SS_PENDING now; final status when the test calls CompletePending
    };

    struct ExecAnswer {
        BYTE status = SS_COMP; // the final SRB_Status
        BYTE haStat = HASTAT_OK;
        BYTE targStat = 0;
        std::vector<BYTE> sense;  // copied to SenseArea (at most SRB_SenseLen bytes)
        std::vector<BYTE> dataIn; // copied to the buffer of a data-in request (at most BufLen)
        Completion completion = Completion::Immediate;
        DWORD delayMs = 0;
        bool signalEvent = true;
        // What SendASPI32Command returns; by default the final status for Immediate and
        // SS_PENDING otherwise.
        std::optional<DWORD> returnValue;
    };

    struct Submission {
        unsigned sequence; // in the order of NextFakeSequence
        BYTE command;      // SRB_Cmd
        const void *block; // the address the program handed over
        DWORD returned;    // what SendASPI32Command returned
        // The block as filled by the program; only the one of its command is meaningful.
        SRB_HAInquiry adapterInquiry;
        SRB_GDEVBlock deviceType;
        SRB_ExecSCSICmd exec;
        std::vector<BYTE> dataOut; // data-out requests: the SRB_BufLen bytes sent
    };

    FakeAspiManager();
    ~FakeAspiManager();
    FakeAspiManager(const FakeAspiManager &) = delete;
    FakeAspiManager &operator=(const FakeAspiManager &) = delete;

    void SetSupportInfo(DWORD value);
    void ScriptAdapter(BYTE ha, DWORD returnValue, BYTE adapterCount = 1);
    void ScriptDevice(BYTE ha, BYTE target, BYTE deviceType, DWORD returnValue = SS_COMP);
    void QueueExecAnswer(const ExecAnswer &answer);
    void SetExecRule(std::function<ExecAnswer(const SRB_ExecSCSICmd &)> rule);

    // Completes the oldest request answered with Completion::Manual, on the caller's thread.
    // False when none is waiting.
    bool CompletePending();
    // Waits until every Completion::Later request has completed.
    void JoinLaterCompletions();

    std::vector<Submission> Submissions() const;
    // Only the SC_EXEC_SCSI_CMD submissions.
    std::vector<Submission> ExecSubmissions() const;
    int SupportInfoCalls() const;

    // Answers of common shapes.
    static ExecAnswer Good(std::vector<BYTE> dataIn = {});
    // SS_ERR or (SS_COMP, CHECK CONDITION) with fixed-format sense data key/ASC/ASCQ.
    static ExecAnswer SenseError(BYTE key, BYTE asc, BYTE ascq);
    static ExecAnswer CheckCondition(BYTE key, BYTE asc, BYTE ascq);
    // 18 bytes of fixed-format sense data (response code 0x70).
    static std::vector<BYTE> FixedSense(BYTE key, BYTE asc, BYTE ascq);

  private:
    struct Pending {
        SRB_ExecSCSICmd *request;
        ExecAnswer answer;
    };

    static DWORD __cdecl SupportInfoEntry();
    static DWORD __cdecl SendCommandEntry(LPSRB srb);
    DWORD Send(void *srb);
    DWORD AnswerAdapterInquiry(SRB_HAInquiry &inquiry);
    DWORD AnswerDeviceType(SRB_GDEVBlock &request);
    DWORD AnswerExec(SRB_ExecSCSICmd &request);
    static void Complete(SRB_ExecSCSICmd &request, const ExecAnswer &answer);

    mutable std::mutex lock_;
    DWORD supportInfo_ = 0;
    int supportInfoCalls_ = 0;
    std::map<BYTE, std::pair<DWORD, BYTE>> adapters_;
    std::map<std::pair<BYTE, BYTE>, std::pair<DWORD, BYTE>> devices_;
    std::deque<ExecAnswer> queued_;
    std::function<ExecAnswer(const SRB_ExecSCSICmd &)> rule_;
    std::vector<Submission> submissions_;
    std::deque<Pending> manual_;
    std::vector<std::thread> later_;
    LPGETASPI32SUPPORTINFO previousSupportInfo_;
    LPSENDASPI32COMMAND previousSendCommand_;
    FakeAspiManager *previousInstalled_;
};

#endif
