// The virtual ASPI manager behind our wnaspi32.dll: host adapters with the devices of the
// scenario, requests completed on a thread of its own after their latency, faults on demand and
// a trace of every request.
#ifndef M770B_SIM_ASPI_SIMMANAGER_H
#define M770B_SIM_ASPI_SIMMANAGER_H

#include "scsi/wnaspi32.h"
#include "sim/loader/LoaderModel.h"
#include "sim/scenario/Scenario.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TTraceLine;

class TSimManager {
  public:
    // Reads the scenario (M770B_SIM_SCENARIO, else scenario.txt beside the module), opens the
    // trace and the loaders' flash files. A failure leaves the manager refusing every request.
    explicit TSimManager(HMODULE self);
    ~TSimManager();
    TSimManager(const TSimManager &) = delete;
    TSimManager &operator=(const TSimManager &) = delete;

    DWORD SupportInfo();
    DWORD Send(void *block);

  private:
    struct Device {
        const DeviceScenario *scenario;
        std::unique_ptr<TLoaderModel> loader; // null for a device that is not a loader
    };
    struct Job {
        SRB_ExecSCSICmd *srb;
        SRB_ExecSCSICmd submitted; // the block as it came, to see whether it was refilled
        uint32_t seq;
        uint32_t due;
        Device *device; // null: nothing at that target
        const FaultRule *fault;
        HANDLE release; // a held request: the event that lets the device run it; else null
    };

    void Load();
    DWORD InquireAdapter(SRB_HAInquiry &srb, TTraceLine &line);
    DWORD GetDeviceType(SRB_GDEVBlock &srb, TTraceLine &line);
    DWORD Execute(SRB_ExecSCSICmd &srb, uint32_t seq, TTraceLine &line);
    Device *FindDevice(uint8_t adapter, uint8_t target);
    bool Answers(uint8_t adapter) const;
    bool StartWorker();
    void Complete(const Job &job);
    void WriteTrace(const std::string &line); // caller holds lock_
    uint32_t Now() const;

    static DWORD WINAPI WorkerEntry(void *self);
    void Worker();

    HMODULE self_;
    std::wstring modulePath_;
    Scenario scenario_;
    bool ready_ = false;
    std::vector<Device> devices_;
    TFaultCounter faults_;
    CRITICAL_SECTION lock_;
    std::deque<Job> queue_;
    std::set<const void *> pending_;
    bool running_ = false;
    std::FILE *trace_ = nullptr;
    LARGE_INTEGER start_{}, frequency_{};
    uint32_t seq_ = 0;
};

#endif
