#include "tests/e2e/update/UpdateWorld.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/firmware/SampleFirmware.h"

namespace {

std::string Hex2(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

const BYTE StepOpcodes[WriteStepCount] = {0xE1, 0xE2, 0xE2, 0xE2, 0xE2,
                                          0xE2, 0xE2, 0xE2, 0xE2, 0xE4};

} // namespace

BYTE OpcodeOfStep(int step) {
    return StepOpcodes[step];
}

int NthOfStep(int step) {
    return step >= FirstChunkStep && step <= LastChunkStep ? step : 1;
}

const std::vector<int> FullBarPositions = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 95, 100};

int BarDuringStep(int step) {
    return FullBarPositions[step + 1]; // [0] is the activation's 0
}

std::string RecordStepName(int step) {
    if (step == EraseStep)
        return "erase";
    if (step == ChecksumStep)
        return "checksum read";
    return "chunk " + std::to_string(step) + " of 8";
}

std::vector<std::string> DriveStartLines(const std::string &quoted, int lastStep) {
    std::vector<std::string> lines = {"Drive " + quoted + ": started"};
    for (int step = EraseStep; step <= lastStep; ++step)
        lines.push_back("Drive " + quoted + ": starting " + RecordStepName(step));
    return lines;
}

std::vector<BYTE> ReadWholeFile(const std::string &path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

TUpdateWorld::TUpdateWorld(const std::string &name) : TUpdateWorld(M770B_E2E_RUNS, name) {}

TUpdateWorld::TUpdateWorld(const std::string &runsFolder, const std::string &name, bool fresh)
    : root_(WindowsPath(runsFolder) + "\\" + name) {
    if (!fresh)
        return;
    EmptyFolder(root_);
    CreateDirectoryA(BinFolder().c_str(), nullptr);
    CreateDirectoryA(WorkFolder().c_str(), nullptr);
    scenario_ = "adapters = 1\ntrace = trace.txt\n";
}

void TUpdateWorld::AddLoader(const LoaderSpec &loader) {
    loaders_.push_back(loader);
    std::ostringstream section;
    section << "\n[device 0 " << loader.target << "]\nkind = loader\nidentity = \""
            << loader.identity << "\"\nflash = flash-0-" << loader.target << ".bin\n"
            << "latency_erase = " << loader.latencyErase << "\n"
            << "latency_chunk = " << loader.latencyChunk << "\n"
            << "latency_checksum = " << loader.latencyChecksum << "\n";
    scenario_ += section.str();
}

void TUpdateWorld::AddFault(const std::string &lines) {
    scenario_ += "\n[fault]\n" + lines + "\n";
}

void TUpdateWorld::HoldStep(int target, int step) {
    char opcode[8];
    std::snprintf(opcode, sizeof opcode, "0x%02X", OpcodeOfStep(step));
    AddFault("target = " + std::to_string(target) + "\nopcode = " + opcode +
             "\nnth = " + std::to_string(NthOfStep(step)) + "\naction = hold");
}

void TUpdateWorld::AddScenarioLines(const std::string &lines) {
    scenario_ += lines + "\n";
}

TLaunch TUpdateWorld::Launch(const std::string &workFolder) const {
    TLaunch launch;
    launch.program = ProgramPath();
    launch.workFolder = workFolder.empty() ? WorkFolder() : workFolder;
    return launch;
}

void TUpdateWorld::Prepare() { Prepare(M770B_SIM_DLL); }

void TUpdateWorld::Prepare(const std::string &aspiDll) {
    std::ofstream(BinFolder() + "\\scenario.txt", std::ios::binary) << scenario_;
    CopyFileA(WindowsPath(M770B_PROGRAM).c_str(), ProgramPath().c_str(), FALSE);
    CopyFileA(WindowsPath(aspiDll).c_str(), (BinFolder() + "\\wnaspi32.dll").c_str(), FALSE);
}

std::vector<BYTE> TUpdateWorld::WriteSampleImage(uint32_t seed, const std::string &revision) {
    std::vector<uint8_t> image = MakeSampleFirmware(seed, revision);
    std::vector<BYTE> bytes(image.begin(), image.end());
    WriteImageBytes(bytes);
    return bytes;
}

void TUpdateWorld::WriteImageBytes(const std::vector<BYTE> &bytes, const std::string &folder) {
    std::ofstream file(root_ + "\\" + folder + "\\Firmware.bin", std::ios::binary);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<TraceRecord> TUpdateWorld::Trace() const {
    return ReadTraceFile(BinFolder() + "\\trace.txt");
}

std::vector<ProgressShowing> TUpdateWorld::Showings() const {
    std::vector<ProgressShowing> showings;
    for (const TraceRecord &r : Trace()) {
        if (r.kind != "req" || r.Number("cmd") != 0x02 || !r.Has("bar"))
            continue;
        const std::vector<uint8_t> title = r.Bytes("title"), label = r.Bytes("label");
        ProgressShowing now;
        now.title.assign(title.begin(), title.end());
        now.label.assign(label.begin(), label.end());
        const int bar = static_cast<int>(r.Number("bar"));
        if (showings.empty() || showings.back().title != now.title ||
            showings.back().label != now.label || bar < showings.back().positions.back())
            showings.push_back(now);
        ProgressShowing &showing = showings.back();
        showing.positions.push_back(bar);
        showing.mostWindows = std::max(showing.mostWindows, static_cast<int>(r.Number("windows")));
    }
    return showings;
}

int TUpdateWorld::ReleaseHeld(const std::function<void(const TraceRecord &held)> &during) {
    uint64_t process = 0;
    int released = 0;
    for (const TraceRecord &r : Trace()) {
        if (r.kind == "load")
            process = r.Number("pid");
        if (r.kind != "req" || r.Text("fault") != "hold" ||
            !released_.insert(r.Number("seq")).second)
            continue;
        if (during)
            during(r);
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE,
                                  HeldRequestEventName(process, r.Number("seq")).c_str());
        if (event) {
            SetEvent(event);
            CloseHandle(event);
        }
        ++released;
    }
    return released;
}

std::vector<TraceRecord> TUpdateWorld::WriteRequests(int target) const {
    std::vector<TraceRecord> requests;
    for (const TraceRecord &record : Trace()) {
        if (record.kind != "req" || record.Number("cmd") != 0x02 ||
            record.Number("target") != static_cast<uint64_t>(target))
            continue;
        std::vector<uint8_t> cdb = record.Bytes("cdb");
        if (!cdb.empty() && (cdb[0] == 0xE1 || cdb[0] == 0xE2 || cdb[0] == 0xE4))
            requests.push_back(record);
    }
    return requests;
}

std::vector<BYTE> TUpdateWorld::Flash(int target) const {
    return ReadWholeFile(BinFolder() + "\\flash-0-" + std::to_string(target) + ".bin");
}

std::string WriteStepCdb(int step) {
    if (step == EraseStep)
        return "E104FF000000000000000000";
    if (step == ChecksumStep)
        return "E40000000000000000000000";
    const DWORD offset = (step - FirstChunkStep) * 0x8000;
    return "E2" + Hex2(step < LastChunkStep ? 1 : 0) + "00" + Hex2(offset >> 16) +
           Hex2(offset >> 8) + Hex2(offset) + "000080000000";
}

std::string CheckWriteSequence(const std::vector<TraceRecord> &requests, int target,
                               const std::vector<BYTE> &image, int count, int faultedStep) {
    if (static_cast<int>(requests.size()) != count)
        return "expected " + std::to_string(count) + " write-sequence requests to target " +
               std::to_string(target) + ", the drive received " + std::to_string(requests.size());
    for (int step = 0; step < count; ++step) {
        const TraceRecord &r = requests[step];
        const std::string cdb = WriteStepCdb(step);
        std::string flags, buflen, digest;
        if (step == EraseStep) {
            flags = "0x40", buflen = "0";
        } else if (step == ChecksumStep) {
            flags = "0x48", buflen = "2";
        } else {
            flags = "0x50", buflen = "32768";
            digest = DigestText(Fnv1a64(image.data() + (step - FirstChunkStep) * 0x8000, 0x8000));
        }
        const std::pair<const char *, std::string> expected[] = {
            {"ha", "0"},        {"target", std::to_string(target)},
            {"lun", "0"},       {"flags", flags},
            {"buflen", buflen}, {"senselen", "16"},
            {"cdblen", "12"},   {"cdb", cdb},
            {"event", "1"},     {"ret", "0x00"},
            // The bar the person saw when the command went out.
            {"bar", std::to_string(BarDuringStep(step))},
        };
        for (const auto &field : expected)
            if (r.Text(field.first) != field.second)
                return "request " + std::to_string(step) + ": " + field.first + "=" +
                       r.Text(field.first) + ", expected " + field.second;
        if (!digest.empty() && r.Text("digest") != digest)
            return "request " + std::to_string(step) + ": the chunk's data is not the image's";
        // A held request is not a fault: the drive runs it once the test lets it go.
        const bool faulted = r.Has("fault") && r.Text("fault") != "hold";
        if (r.Has("refused") || faulted != (step == faultedStep))
            return "request " + std::to_string(step) +
                   (r.Has("fault") ? " was faulted" : " was refused or not faulted");
    }
    return "";
}
