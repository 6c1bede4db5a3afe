#include "sim/tcmu/TargetConfig.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

const std::string Target = "/sys/kernel/config/target";
const std::string Hba = Target + "/core/user_77";
const std::string Wwn = Target + "/loopback/naa.5001405770000000";
const char Initiator[] = "naa.5001405770000001";

std::string Failed(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Configfs takes an attribute in one write.
std::string WriteText(const std::string &path, const std::string &text) {
    std::ofstream file(path);
    file << text << std::flush;
    return file ? "" : Failed("cannot write", path);
}

std::string ReadText(const std::string &path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text);
    return text;
}

std::string MakeFolder(const std::string &path) {
    return mkdir(path.c_str(), 0755) == 0 ? "" : Failed("cannot make", path);
}

// Removes a folder or a link; one already gone is no failure. Keeps the first failure in `error`.
void Remove(const std::string &path, bool link, std::string &error) {
    if ((link ? unlink(path.c_str()) : rmdir(path.c_str())) != 0 && errno != ENOENT &&
        error.empty())
        error = Failed("cannot remove", path);
}

std::vector<std::string> Names(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

// The numbers of the tcm_loop SCSI hosts Linux has.
std::vector<int> LoopHosts() {
    std::vector<int> hosts;
    for (const std::string &name : Names("/sys/class/scsi_host"))
        if (ReadText("/sys/class/scsi_host/" + name + "/proc_name") == "tcm_loopback")
            hosts.push_back(std::stoi(name.substr(4)));
    return hosts;
}

std::string Tpg(uint8_t target) {
    return Wwn + "/tpgt_" + std::to_string(target);
}
std::string Lun(uint8_t target) {
    return Tpg(target) + "/lun/lun_0";
}
std::string LunLink(uint8_t target) {
    return Lun(target) + "/drive";
}

} // namespace

std::string TTargetConfig::Prepare() {
    struct stat info;
    if (stat(Target.c_str(), &info) != 0)
        return "no " + Target +
               " (is configfs mounted, are target_core_mod, target_core_user and tcm_loop loaded?)";
    if (mkdir(Hba.c_str(), 0755) != 0)
        return Failed("cannot make", Hba) + " (is another handler running?)";
    prepared_ = true;
    return "";
}

std::string TTargetConfig::AddBackstore(uint8_t adapter, uint8_t target, std::string &uio,
                                        size_t &areaSize) {
    std::string name = "m770b-" + std::to_string(adapter) + "-" + std::to_string(target);
    std::string path = Hba + "/" + name;
    std::string error = MakeFolder(path);
    if (!error.empty())
        return error;
    backstores_.at(target) = path;
    error = WriteText(path + "/control", "dev_config=m770b,dev_size=1048576");
    if (error.empty())
        error = WriteText(path + "/attrib/cmd_time_out", std::to_string(CommandTimeOutSeconds));
    if (error.empty())
        error = WriteText(path + "/enable", "1");
    if (!error.empty())
        return error;
    // The kernel names the backstore's uio device "tcm-user/<hba>/<name>/<dev_config>".
    const std::string uioName = "tcm-user/77/" + name + "/m770b";
    for (const std::string &device : Names("/sys/class/uio")) {
        std::string folder = "/sys/class/uio/" + device;
        if (ReadText(folder + "/name") != uioName)
            continue;
        uio = "/dev/" + device;
        areaSize = std::stoull(ReadText(folder + "/maps/map0/size"), nullptr, 0);
        return "";
    }
    return "no uio device named " + uioName;
}

std::string TTargetConfig::AddPort(uint8_t target) {
    if (host_ < 0) {
        std::vector<int> before = LoopHosts();
        mkdir((Target + "/loopback").c_str(), 0755); // there already once tcm_loop is loaded
        std::string error = MakeFolder(Wwn);
        if (!error.empty())
            return error;
        for (int host : LoopHosts())
            if (std::find(before.begin(), before.end(), host) == before.end())
                host_ = host;
        if (host_ < 0)
            return "no new tcm_loop SCSI host after making " + Wwn;
    }
    std::string error = MakeFolder(Tpg(target));
    if (!error.empty())
        return error;
    targets_.push_back(target);
    error = WriteText(Tpg(target) + "/nexus", Initiator);
    return error.empty() ? MakeFolder(Lun(target)) : error;
}

std::string TTargetConfig::LinkLun(uint8_t target) {
    return symlink(backstores_.at(target).c_str(), LunLink(target).c_str()) == 0
               ? ""
               : Failed("cannot link", LunLink(target));
}

std::string TTargetConfig::Address(uint8_t target) const {
    return std::to_string(host_) + ":0:" + std::to_string(target) + ":0";
}

std::string TTargetConfig::Describe(uint8_t target, std::string &line) const {
    std::string device = "/sys/class/scsi_device/" + Address(target) + "/device";
    std::vector<std::string> block, generic;
    for (int wait = 0; wait < 100 && (block.empty() || generic.empty()); ++wait) {
        if (wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        block = Names(device + "/block");
        generic = Names(device + "/scsi_generic");
    }
    if (generic.empty())
        return "Linux made no SCSI device " + Address(target) + " for target " +
               std::to_string(target);
    line =
        Address(target) + " " + (block.empty() ? "-" : "/dev/" + block[0]) + " /dev/" + generic[0];
    return "";
}

bool TTargetConfig::LunRunning(uint8_t target) const {
    return ReadText("/sys/class/scsi_device/" + Address(target) + "/device/state") == "running";
}

std::string TTargetConfig::RemoveLun(uint8_t target) {
    std::string error;
    Remove(LunLink(target), true, error);
    return error;
}

std::string TTargetConfig::RemovePorts() {
    std::string error;
    if (!prepared_)
        return error;
    for (auto target = targets_.rbegin(); target != targets_.rend(); ++target) {
        Remove(LunLink(*target), true, error);
        Remove(Lun(*target), false, error);
        Remove(Tpg(*target), false, error); // drops its nexus
    }
    if (host_ >= 0)
        Remove(Wwn, false, error);
    return error;
}

std::string TTargetConfig::RemoveBackstores() {
    std::string error;
    if (!prepared_)
        return error;
    for (const std::string &path : backstores_)
        if (!path.empty())
            Remove(path, false, error);
    Remove(Hba, false, error);
    return error;
}
