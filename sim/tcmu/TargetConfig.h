// The Linux kernel's SCSI target set up through configfs for the served drives, and taken down
// again: one TCMU backstore per drive (target/core/user_77/m770b-A-T), one tcm_loop SCSI host
// (target/loopback/naa.5001405770000000) with a target port group tpgt_T per drive, its nexus,
// and LUN 0 linked to the drive's backstore, so that Linux shows the drive as H:0:T:0.
// Every call answers an error text, empty on success.
#ifndef M770B_SIM_TCMU_TARGETCONFIG_H
#define M770B_SIM_TCMU_TARGETCONFIG_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// How long the kernel's target waits for the drive's answer before it fails a command itself
// (CHECK CONDITION, NOT READY): well inside the program's own 60 s bound, so a command the drive
// never answers ends the run through the kernel's road.
constexpr uint32_t CommandTimeOutSeconds = 8;

class TTargetConfig {
  public:
    // Makes the backstores' folder (configfs mounted, the target's modules loaded).
    std::string Prepare();
    // A backstore that waits CommandTimeOutSeconds for an answer; gives its /dev/uioN and the
    // length of its shared area.
    std::string AddBackstore(uint8_t adapter, uint8_t target, std::string &uio, size_t &areaSize);
    // The target port group of the drive with its nexus and an empty LUN 0 (the first call makes
    // the SCSI host).
    std::string AddPort(uint8_t target);
    // Links LUN 0 to the backstore: the kernel scans the LUN before this returns, so the drive's
    // ring must already be served (call it from another thread).
    std::string LinkLun(uint8_t target);
    // "H:C:T:L /dev/srN /dev/sgM" once Linux has made the drive's devices.
    std::string Describe(uint8_t target, std::string &line) const;
    // Whether Linux still takes commands for the drive's LUN ("running").
    bool LunRunning(uint8_t target) const;
    // Unlinks LUN 0 of the drive: Linux removes its SCSI device, waiting for the commands still
    // outstanding, so the ring must go on being served.
    std::string RemoveLun(uint8_t target);
    // The LUNs, port groups and the SCSI host; then, with the uio devices closed, the backstores.
    // Nothing when Prepare failed: what is there then belongs to someone else.
    std::string RemovePorts();
    std::string RemoveBackstores();

  private:
    std::string Address(uint8_t target) const;

    bool prepared_ = false;
    std::array<std::string, 8> backstores_; // paths, by target
    std::vector<uint8_t> targets_;          // the port groups made
    int host_ = -1;                         // the tcm_loop SCSI host's number
};

#endif
