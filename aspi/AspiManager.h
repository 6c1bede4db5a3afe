// Our ASPI for Win32 manager: the host adapters found on the SCSI ports of Windows, and the
// ASPI commands a client sends to them.
#ifndef M770B_ASPI_ASPIMANAGER_H
#define M770B_ASPI_ASPIMANAGER_H

#include "aspi/AdapterTable.h"
#include "aspi/AdapterWorker.h"

#include <memory>
#include <vector>

class TAspiManager {
  public:
    // Enumerates the adapters through the back end and starts one worker per adapter.
    explicit TAspiManager(TDeviceBackEnd &backEnd);
    // Destruction waits for the queued requests (the workers go first), then closes every handle
    // (the table); so does a construction that throws.
    TAspiManager(const TAspiManager &) = delete;
    TAspiManager &operator=(const TAspiManager &) = delete;

    // GetASPI32SupportInfo: the status byte above the count: SS_COMP; with no adapter,
    // SS_SECURITY_VIOLATION where a device refused to open for lack of rights, else
    // SS_NO_ADAPTERS.
    DWORD SupportInfo() const;

    // SendASPI32Command.
    DWORD SendCommand(void *srb);

    size_t AdapterCount() const { return table_.adapters.size(); }

  private:
    DWORD InquireAdapter(SRB_HAInquiry &srb) const;
    DWORD GetDeviceType(SRB_GDEVBlock &srb) const;
    DWORD ExecuteCommand(SRB_ExecSCSICmd &srb);
    DWORD AbortRequest(SRB_Abort &srb);

    TDeviceBackEnd &backEnd_;
    TAdapterTable table_;
    std::vector<std::unique_ptr<TAdapterWorker>> workers_; // one per adapter, same index
};

// The ASPI status that refuses a block before it is queued, or SS_PENDING when it may run.
BYTE CheckExecRequest(const TExecRequest &request, DWORD maxTransfer);

#endif
