#include "sim/tcmu/TargetConfig.h"

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

const std::string Config = "/sys/kernel/config";
const std::string Target = Config + "/target";
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

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
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

} // namespace

std::string TTargetConfig::Prepare() {
    if (!Exists(Target) && mount("configfs", Config.c_str(), "configfs", 0, nullptr) != 0)
        return Failed("cannot mount configfs on", Config);
    if (!Exists(Target))
        return "no " + Target + " (are target_core_mod, target_core_user and tcm_loop loaded?)";
    if (mkdir(Hba.c_str(), 0755) != 0)
        return Failed("cannot make", Hba) + " (is another handler running?)";
    backstores_.push_back({Hba, false, -1});
    return "";
}

std::string TTargetConfig::AddBackstore(uint8_t adapter, uint8_t target, uint32_t cmdTimeOut,
                                        std::string &uio, size_t &areaSize) {
    std::string name = "m770b-" + std::to_string(adapter) + "-" + std::to_string(target);
    std::string path = Hba + "/" + name;
    if (mkdir(path.c_str(), 0755) != 0)
        return Failed("cannot make", path);
    backstores_.push_back({path, false, target});
    if (backstorePaths_.size() <= target)
        backstorePaths_.resize(target + 1);
    backstorePaths_[target] = path;
    std::string error = WriteText(path + "/control", "dev_config=m770b,dev_size=1048576");
    if (error.empty())
        error = WriteText(path + "/attrib/cmd_time_out", std::to_string(cmdTimeOut));
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
        mkdir((Target + "/loopback").c_str(), 0755); // present once tcm_loop is loaded
        if (mkdir(Wwn.c_str(), 0755) != 0)
            return Failed("cannot make", Wwn);
        ports_.push_back({Wwn, false, -1});
        for (int host : LoopHosts())
            if (std::find(before.begin(), before.end(), host) == before.end())
                host_ = host;
        if (host_ < 0)
            return "no new tcm_loop SCSI host after making " + Wwn;
    }
    std::string tpg = Tpg(target);
    if (mkdir(tpg.c_str(), 0755) != 0)
        return Failed("cannot make", tpg);
    ports_.push_back({tpg, false, target});
    std::string error = WriteText(tpg + "/nexus", Initiator);
    if (!error.empty())
        return error;
    std::string lun = tpg + "/lun/lun_0";
    if (mkdir(lun.c_str(), 0755) != 0)
        return Failed("cannot make", lun);
    ports_.push_back({lun, false, target});
    return "";
}

std::string TTargetConfig::LinkLun(uint8_t target) {
    std::string link = Tpg(target) + "/lun/lun_0/drive";
    if (symlink(backstorePaths_.at(target).c_str(), link.c_str()) != 0)
        return Failed("cannot link", link);
    ports_.push_back({link, true, target});
    return "";
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
    for (auto made = ports_.rbegin(); made != ports_.rend(); ++made)
        if (made->target == target && made->link) {
            if (unlink(made->path.c_str()) != 0)
                return Failed("cannot unlink", made->path);
            made->path.clear();
        }
    return "";
}

// Removes what is listed, newest first; answers the first failure.
std::string TTargetConfig::Undo(std::vector<Made> &made) {
    std::string error;
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        if (it->path.empty())
            continue;
        if ((it->link ? unlink(it->path.c_str()) : rmdir(it->path.c_str())) != 0 && error.empty())
            error = Failed("cannot remove", it->path);
        it->path.clear();
    }
    return error;
}

std::string TTargetConfig::RemovePorts() {
    return Undo(ports_);
}

std::string TTargetConfig::RemoveBackstores() {
    return Undo(backstores_);
}
