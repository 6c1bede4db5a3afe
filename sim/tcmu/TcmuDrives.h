// The scenario's drives behind their TCMU rings: every command the kernel passes is traced,
// matched against the fault rules, executed by the drive (the loader model) and answered, as the
// virtual ASPI manager does for its request blocks.
#ifndef M770B_SIM_TCMU_TCMUDRIVES_H
#define M770B_SIM_TCMU_TCMUDRIVES_H

#include "sim/loader/LoaderModel.h"
#include "sim/scenario/Scenario.h"
#include "sim/tcmu/CommandRing.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TTcmuDrives {
  public:
    // Called when a `remove` rule hit a command of the drive at that target, after the drive
    // executed it and before its answer is given back.
    using RemoveLun = std::function<void(uint8_t target)>;

    TTcmuDrives(const Scenario &scenario, RemoveLun removeLun);
    ~TTcmuDrives();
    TTcmuDrives(const TTcmuDrives &) = delete;
    TTcmuDrives &operator=(const TTcmuDrives &) = delete;

    // Opens the trace (writing its `load` line) and the loaders' flash files.
    std::string Open(const std::string &scenarioPath);
    size_t Count() const { return drives_.size(); }
    const DeviceScenario &Device(size_t drive) const { return *drives_[drive].scenario; }
    // Opens and maps the drive's uio device; fails for a ring this handler cannot serve.
    std::string AttachRing(size_t drive, const std::string &uio, size_t areaSize);
    // The uio device to wait on; -1 (which poll passes over) while the drive has no ring to serve.
    int Fd(size_t drive) const { return drives_[drive].ring ? drives_[drive].fd : -1; }
    // Takes every command the kernel queued for the drive and answers it (unless a rule says
    // never), then tells the kernel. A ring that breaks is served no more: the answer says why.
    std::string Serve(size_t drive);
    // Answers every command held by `hang` with ABORTED COMMAND, so that taking the target down
    // need not wait for the kernel's time-out.
    void ReleaseHeld();
    void DetachRings();
    void TraceRemoved(uint8_t target);

  private:
    struct Drive {
        const DeviceScenario *scenario = nullptr;
        std::unique_ptr<TLoaderModel> loader;
        int fd = -1;
        uint8_t *area = nullptr;
        size_t areaSize = 0;
        std::unique_ptr<TCommandRing> ring;
        std::vector<uint16_t> held; // commands a `hang` rule keeps unanswered
        bool gone = false;          // its LUN has been removed
    };

    bool Take(Drive &drive, const RingCommand &command);
    ScsiOutcome Execute(Drive &drive, std::vector<uint8_t> cdb, DataDirection direction,
                        std::vector<uint8_t> &in, const std::vector<uint8_t> &out);
    void GiveBack(Drive &drive, uint16_t id, const ScsiOutcome &outcome, uint32_t readLength);
    void Notify(Drive &drive);
    void HangUp();
    void Trace(const std::string &line);
    uint64_t Now() const;

    const Scenario &scenario_;
    RemoveLun removeLun_;
    std::vector<Drive> drives_;
    TFaultCounter faults_;
    std::string hangupFile_; // hangup.pgid beside the scenario
    std::FILE *trace_ = nullptr;
    std::mutex traceLock_; // the LUN removal writes its line from a thread of its own
    uint32_t seq_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

#endif
