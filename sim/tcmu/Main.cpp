// m770b-tcmu SCENARIO: serves the scenario's drives from the Linux kernel's SCSI target (one TCMU
// backstore per drive, shown to the same kernel through tcm_loop), run as root. Prints
// "drive A T H:C:T:L /dev/srN /dev/sgM" per drive and then "ready" once Linux has made their
// devices; on SIGTERM or SIGINT takes down everything it made and ends with 0. A failure to set
// up: one line on standard error, exit code 1.
#include "sim/scenario/Scenario.h"
#include "sim/tcmu/JobThread.h"
#include "sim/tcmu/TargetConfig.h"
#include "sim/tcmu/TcmuDrives.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

namespace {

void Report(const std::string &error) {
    std::fprintf(stderr, "m770b-tcmu: %s\n", error.c_str());
}

std::string CheckScenario(const Scenario &scenario) {
    if (const FaultRule *rule = UnsupportedFault(
            scenario, {FaultAction::Answer, FaultAction::Hang, FaultAction::Remove}))
        return std::string("action ") + FaultActionName(rule->action) +
               " is not offered by the TCMU handler (answer, hang, remove)";
    if (scenario.devices.empty())
        return "the scenario has no [device A T]";
    std::set<uint8_t> targets;
    for (const DeviceScenario &device : scenario.devices)
        if (!targets.insert(device.target).second)
            return "target " + std::to_string(device.target) +
                   " given twice (every drive sits on one SCSI host)";
    return "";
}

class THandler {
  public:
    explicit THandler(const Scenario &scenario)
        : scenario_(scenario), drives_(scenario, [this](uint8_t target) { RemoveLun(target); }) {}

    int Run(const std::string &scenarioPath, int signals);

  private:
    std::string SetUp(const std::string &scenarioPath);
    void LinkLuns();
    void RemoveLun(uint8_t target);
    void Stop(int exitCode);

    const Scenario &scenario_;
    TTargetConfig config_;
    TJobThread jobs_;
    TTcmuDrives drives_;
    int exitCode_ = 0;
    bool stopping_ = false, stopped_ = false;
};

int THandler::Run(const std::string &scenarioPath, int signals) {
    std::string error = SetUp(scenarioPath);
    if (error.empty()) {
        LinkLuns();
    } else {
        Report(error);
        Stop(1);
    }
    while (!stopped_) {
        std::vector<pollfd> fds = {{signals, POLLIN, 0}, {jobs_.Fd(), POLLIN, 0}};
        for (size_t i = 0; i < drives_.Count(); ++i)
            fds.push_back({drives_.Fd(i), POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            Report(std::string("poll: ") + std::strerror(errno));
            return 1;
        }
        if (fds[0].revents) {
            signalfd_siginfo signal;
            if (read(signals, &signal, sizeof signal) > 0)
                Stop(0);
        }
        if (fds[1].revents)
            jobs_.RunFinished();
        for (size_t i = 0; i < drives_.Count(); ++i)
            if (fds[i + 2].revents & POLLIN)
                drives_.Serve(i);
    }
    drives_.DetachRings();
    error = config_.RemoveBackstores();
    if (!error.empty()) {
        Report(error);
        exitCode_ = 1;
    }
    return exitCode_;
}

std::string THandler::SetUp(const std::string &scenarioPath) {
    std::string error = drives_.Open(scenarioPath);
    if (error.empty())
        error = config_.Prepare();
    for (size_t i = 0; error.empty() && i < drives_.Count(); ++i) {
        const DeviceScenario &device = drives_.Device(i);
        std::string uio;
        size_t areaSize = 0;
        error = config_.AddBackstore(device.adapter, device.target, scenario_.cmdTimeOut, uio,
                                     areaSize);
        if (error.empty())
            error = drives_.AttachRing(i, uio, areaSize);
        if (error.empty())
            error = config_.AddPort(device.target);
    }
    return error;
}

// Linking a LUN makes the kernel scan it, with commands the main thread answers meanwhile.
void THandler::LinkLuns() {
    auto lines = std::make_shared<std::vector<std::string>>();
    jobs_.Push(
        [this, lines] {
            for (size_t i = 0; i < drives_.Count(); ++i) {
                std::string error = config_.LinkLun(drives_.Device(i).target);
                if (!error.empty())
                    return error;
            }
            for (size_t i = 0; i < drives_.Count(); ++i) {
                const DeviceScenario &device = drives_.Device(i);
                std::string line;
                std::string error = config_.Describe(device.target, line);
                if (!error.empty())
                    return error;
                lines->push_back("drive " + std::to_string(device.adapter) + " " +
                                 std::to_string(device.target) + " " + line);
            }
            return std::string();
        },
        [this, lines](const std::string &error) {
            if (!error.empty()) {
                Report(error);
                Stop(1);
                return;
            }
            for (const std::string &line : *lines)
                std::printf("%s\n", line.c_str());
            std::printf("ready\n");
            std::fflush(stdout);
        });
}

// The drive has executed the command; Linux is told to remove its LUN, and only once it takes no
// more commands for it does the answer go back, so no later command reaches the drive.
void THandler::RemoveLun(uint8_t target) {
    jobs_.Push([this, target] { return config_.RemoveLun(target); },
               [this, target](const std::string &error) {
                   if (error.empty())
                       drives_.TraceRemoved(target);
                   else
                       Report(error);
               });
    for (int wait = 0; wait < 500 && config_.LunRunning(target); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void THandler::Stop(int exitCode) {
    if (stopping_)
        return;
    stopping_ = true;
    exitCode_ = exitCode;
    drives_.ReleaseHeld();
    jobs_.Push([this] { return config_.RemovePorts(); },
               [this](const std::string &error) {
                   if (!error.empty()) {
                       Report(error);
                       exitCode_ = 1;
                   }
                   stopped_ = true;
               });
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        Report("usage: m770b-tcmu SCENARIO");
        return 1;
    }
    Scenario scenario;
    std::string error;
    if (!ReadScenarioFile(argv[1], scenario, error) || !(error = CheckScenario(scenario)).empty()) {
        Report(error);
        return 1;
    }
    // Blocked before any thread starts, so that only the signal descriptor sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    int signals = signalfd(-1, &stop, SFD_CLOEXEC);
    if (signals < 0) {
        Report(std::string("signalfd: ") + std::strerror(errno));
        return 1;
    }
    return THandler(scenario).Run(argv[1], signals);
}
