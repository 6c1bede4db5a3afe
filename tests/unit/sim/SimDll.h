// The built virtual wnaspi32.dll, loaded into the test process over a scenario of the test's own.
#ifndef M770B_TESTS_UNIT_SIM_SIMDLL_H
#define M770B_TESTS_UNIT_SIM_SIMDLL_H

#include "LoaderCdbs.h"

#include "scsi/wnaspi32.h"
#include "sim/trace/SimTrace.h"

#include <string>
#include <vector>

// The DLL's path, from the test program's command line.
extern std::string SimDllPath;

// Loads the DLL with M770B_SIM_SCENARIO naming `scenario` (written to scenario.txt in
// `folder`); unloads it at the end and waits until it is really gone, so that the next load
// reads its own scenario.
class TSimDll {
  public:
    TSimDll(const std::string &folder, const std::string &scenario);
    ~TSimDll();
    TSimDll(const TSimDll &) = delete;
    TSimDll &operator=(const TSimDll &) = delete;

    bool Loaded() const { return getInfo_ && send_; }
    DWORD SupportInfo() const { return getInfo_(); }
    DWORD Send(void *srb) const { return send_(srb); }
    std::vector<TraceRecord> Trace() const { return ReadTraceFile(folder_ + "\\trace.txt"); }

  private:
    std::string folder_;
    HMODULE module_ = nullptr;
    LPGETASPI32SUPPORTINFO getInfo_ = nullptr;
    LPSENDASPI32COMMAND send_ = nullptr;
};

// One execute request with its own event, filled the way the program fills it.
class TExecRequest {
  public:
    TExecRequest(uint8_t target, uint8_t flags, const Cdb &cdb, BYTE *buffer = nullptr,
                 DWORD length = 0);
    ~TExecRequest();
    TExecRequest(const TExecRequest &) = delete;
    TExecRequest &operator=(const TExecRequest &) = delete;

    // Sends the request and waits up to `ms` for its event; returns what Send returned.
    DWORD Run(const TSimDll &dll, DWORD ms = 5000);
    bool Signalled(DWORD ms) const { return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }
    BYTE Status() const { return *static_cast<volatile const BYTE *>(&srb.SRB_Status); }
    // Sense key, ASC, ASCQ as 0xKKAAQQ.
    uint32_t Sense() const {
        return uint32_t(srb.SenseArea[2]) << 16 | uint32_t(srb.SenseArea[12]) << 8 |
               srb.SenseArea[13];
    }

    SRB_ExecSCSICmd srb;

  private:
    HANDLE event_;
};

// The trace records of one kind, in order.
std::vector<TraceRecord> OfKind(const std::vector<TraceRecord> &trace, const std::string &kind);
// The done record of request `seq`; a record of kind "" when there is none.
TraceRecord DoneOf(const std::vector<TraceRecord> &trace, uint64_t seq);

#endif
