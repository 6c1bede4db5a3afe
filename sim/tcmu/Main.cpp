// m770b-tcmu SCENARIO: serves the scenario's drives from the Linux kernel's SCSI target (one TCMU
// backstore per drive, shown to the same kernel through tcm_loop), run as root. Prints
// "drive A T H:C:T:L /dev/srN /dev/sgM" per drive and then "ready" once Linux has made their
// devices; on SIGTERM or SIGINT takes down everything it made and ends with 0. A failure to set
// up: one line on standard error, exit code 1.
#include "sim/scenario/Scenario.h"
#include "sim/tcmu/TargetConfig.h"
#include "sim/tcmu/TcmuDrives.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace {

void Report(const std::string &error) {
    std::fprintf(stderr, "m770b-tcmu: %s\n", error.c_str());
}

std::string CheckScenario(const Scenario &scenario) {
    if (const FaultRule *rule = UnsupportedFault(
            scenario, {FaultAction::Hang, FaultAction::Remove, FaultAction::Hangup}))
        return std::string("action ") + FaultActionName(rule->action) +
               " is not offered by the TCMU handler (hang, remove, hangup)";
    if (scenario.devices.empty())
        return "the scenario has no [device A T]";
    std::set<uint8_t> targets;
    for (const DeviceScenario &device : scenario.devices) {
        if (device.kind != DeviceKind::Loader)
            return "target " + std::to_string(device.target) +
                   ": the TCMU handler serves loaders only (kind = loader)";
        if (!targets.insert(device.target).second)
            return "target " + std::to_string(device.target) +
                   " given twice (every drive sits on one SCSI host)";
    }
    return "";
}

class THandler {
  public:
    THandler(const Scenario &scenario, int done)
        : scenario_(scenario), drives_(scenario, [this](uint8_t target) { RemoveLun(target); }),
          done_(done) {}

    int Run(const std::string &scenarioPath, int signals);

  private:
    std::string SetUp(const std::string &scenarioPath);
    std::string Link(std::vector<std::string> &lines);
    void RemoveLun(uint8_t target);
    std::string ServeUntil(int fd);
    std::string ServeWhile(const std::function<std::string()> &work);

    const Scenario &scenario_;
    TTargetConfig config_;
    TTcmuDrives drives_;
    const int done_;      // an eventfd: the work of ServeWhile has ended
    std::thread removal_; // the last LUN removal
    bool stopping_ = false;
};

int THandler::Run(const std::string &scenarioPath, int signals) {
    std::vector<std::string> lines;
    std::string error = SetUp(scenarioPath);
    if (error.empty())
        error = ServeWhile([&] { return Link(lines); });
    if (error.empty()) {
        for (const std::string &line : lines)
            std::printf("%s\n", line.c_str());
        std::printf("ready\n");
        std::fflush(stdout);
        error = ServeUntil(signals);
    }
    if (!error.empty())
        Report(error);
    // Taking the target down: the commands held are answered first, so that the kernel need not
    // wait for its time-out before it lets the LUNs go.
    stopping_ = true;
    drives_.ReleaseHeld();
    std::string down = ServeWhile([this] {
        if (removal_.joinable())
            removal_.join();
        return config_.RemovePorts();
    });
    drives_.DetachRings();
    std::string backstores = config_.RemoveBackstores();
    if (down.empty())
        down = backstores;
    if (!down.empty())
        Report(down);
    return error.empty() && down.empty() ? 0 : 1;
}

std::string THandler::SetUp(const std::string &scenarioPath) {
    std::string error = drives_.Open(scenarioPath);
    if (error.empty())
        error = config_.Prepare();
    for (size_t i = 0; error.empty() && i < drives_.Count(); ++i) {
        const DeviceScenario &device = drives_.Device(i);
        std::string uio;
        size_t areaSize = 0;
        error = config_.AddBackstore(device.adapter, device.target, uio, areaSize);
        if (error.empty())
            error = drives_.AttachRing(i, uio, areaSize);
        if (error.empty())
            error = config_.AddPort(device.target);
    }
    return error;
}

// Linking a LUN makes the kernel scan it: run aside while the rings are served.
std::string THandler::Link(std::vector<std::string> &lines) {
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
        lines.push_back("drive " + std::to_string(device.adapter) + " " +
                        std::to_string(device.target) + " " + line);
    }
    return "";
}

// The drive has executed the command. Its LUN is removed aside (Linux waits for the commands still
// outstanding, this one among them), and only once Linux takes no more commands for it does the
// answer go back, so no later command reaches the drive. One removal at a time (every case removes
// one drive at most): a second waits for the first, which ends once that LUN's commands are done.
void THandler::RemoveLun(uint8_t target) {
    if (stopping_)
        return;
    if (removal_.joinable())
        removal_.join();
    removal_ = std::thread([this, target] {
        std::string error = config_.RemoveLun(target);
        if (error.empty())
            drives_.TraceRemoved(target);
        else
            Report(error);
    });
    for (int wait = 0; wait < 500 && config_.LunRunning(target); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Serves the rings until `fd` is readable: "" then. Otherwise why serving stopped: poll failed, or
// a drive's ring broke (that drive is served no more).
std::string THandler::ServeUntil(int fd) {
    for (;;) {
        std::vector<pollfd> fds = {{fd, POLLIN, 0}};
        for (size_t i = 0; i < drives_.Count(); ++i)
            fds.push_back({drives_.Fd(i), POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return std::string("poll: ") + std::strerror(errno);
        std::string error;
        for (size_t i = 0; i < drives_.Count(); ++i)
            if ((fds[i + 1].revents & POLLIN) && !(error = drives_.Serve(i)).empty())
                return error;
        if (fds[0].revents)
            return "";
    }
}

// Runs `work` on a thread of its own and serves the rings until it has ended (should serving stop
// first, the work goes on alone).
std::string THandler::ServeWhile(const std::function<std::string()> &work) {
    std::string result;
    std::thread worker([&] {
        result = work();
        const uint64_t one = 1;
        while (write(done_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    });
    std::string served = ServeUntil(done_);
    worker.join();
    uint64_t count = 0; // read back to zero for the next work
    while (read(done_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    return served.empty() ? result : served;
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
    // The eventfd is made here too, so that taking down what was made never lacks it.
    int signals = signalfd(-1, &stop, SFD_CLOEXEC), done = eventfd(0, EFD_CLOEXEC);
    if (signals < 0 || done < 0) {
        Report(std::string(signals < 0 ? "signalfd: " : "eventfd: ") + std::strerror(errno));
        return 1;
    }
    return THandler(scenario, done).Run(argv[1], signals);
}
