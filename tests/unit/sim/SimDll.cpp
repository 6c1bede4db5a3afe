#include "SimDll.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

std::string SimDllPath;

TSimDll::TSimDll(const std::string &folder, const std::string &scenario) : folder_(folder) {
    std::string path = folder + "\\scenario.txt";
    WriteText(path, scenario);
    SetEnvironmentVariableA("M770B_SIM_SCENARIO", path.c_str());
    module_ = LoadLibraryA(SimDllPath.c_str());
    if (!module_)
        return;
    getInfo_ = reinterpret_cast<LPGETASPI32SUPPORTINFO>(
        reinterpret_cast<void *>(GetProcAddress(module_, "GetASPI32SupportInfo")));
    send_ = reinterpret_cast<LPSENDASPI32COMMAND>(
        reinterpret_cast<void *>(GetProcAddress(module_, "SendASPI32Command")));
    if (OfKind(Trace(), "load").empty()) {
        ADD_FAILURE() << "the loaded wnaspi32.dll is not the virtual drive (under Wine, set "
                         "WINEDLLOVERRIDES=wnaspi32=n)";
        getInfo_ = nullptr;
    }
}

TSimDll::~TSimDll() {
    if (!module_)
        return;
    FreeLibrary(module_);
    // The manager's thread holds the module until its last queued request has completed.
    for (int i = 0; i < 1000 && GetModuleHandleA(SimDllPath.c_str()); ++i)
        Sleep(10);
    if (GetModuleHandleA(SimDllPath.c_str()))
        ADD_FAILURE() << "wnaspi32.dll was not unloaded";
}

TExecRequest::TExecRequest(uint8_t target, uint8_t flags, const Cdb &cdb, BYTE *buffer,
                           DWORD length)
    : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = target;
    srb.SRB_Flags = flags;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = static_cast<BYTE>(cdb.size());
    srb.SRB_PostProc = event_;
    std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
}

TExecRequest::~TExecRequest() { CloseHandle(event_); }

DWORD TExecRequest::Run(const TSimDll &dll, DWORD ms) {
    DWORD result = dll.Send(&srb);
    if (result == SS_PENDING)
        Signalled(ms);
    return result;
}

std::vector<TraceRecord> OfKind(const std::vector<TraceRecord> &trace, const std::string &kind) {
    std::vector<TraceRecord> records;
    for (const TraceRecord &record : trace)
        if (record.kind == kind)
            records.push_back(record);
    return records;
}

TraceRecord DoneOf(const std::vector<TraceRecord> &trace, uint64_t seq) {
    for (const TraceRecord &record : trace)
        if (record.kind == "done" && record.Number("seq") == seq)
            return record;
    return TraceRecord{};
}
