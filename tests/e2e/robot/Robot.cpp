#include "tests/e2e/robot/Robot.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "tests/support/ProcessWindows.h"

namespace {

#ifndef M770B_E2E_PROGRAM_FOLDER
#define M770B_E2E_PROGRAM_FOLDER ""
#endif
#ifndef M770B_E2E_SIM_FOLDER
#define M770B_E2E_SIM_FOLDER ""
#endif
#ifndef M770B_E2E_SIM_DLL
#define M770B_E2E_SIM_DLL ""
#endif
#ifndef M770B_E2E_SCRATCH
#define M770B_E2E_SCRATCH ""
#endif
#ifndef M770B_E2E_FIXTURES
#define M770B_E2E_FIXTURES ""
#endif

// A window that does not answer a query within this is taken as hung.
constexpr UINT AnswerMs = 2000;

// A query of another thread's window, bounded by AnswerMs; `fallback` when it does not answer.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT fallback = 0) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, AnswerMs,
                             &answer)) {
        return fallback;
    }
    return static_cast<LRESULT>(answer);
}

bool RemoveTree(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = JoinPath(folder, name);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(folder.c_str()) != 0;
}

// The robot's own environment with the launch's changes applied, as a block for CreateProcess.
std::vector<char> EnvironmentBlock(const TLaunch &launch) {
    std::map<std::string, std::string> byUpperName; // Windows names ignore case
    std::map<std::string, std::string> spelling;
    char *own = GetEnvironmentStringsA();
    for (const char *entry = own; entry && *entry; entry += strlen(entry) + 1) {
        std::string line = entry;
        size_t equals = line.find('=', 1); // "=C:=C:\..." entries start with '='
        if (equals == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, equals);
        std::string upper = name;
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
        byUpperName[upper] = line.substr(equals + 1);
        spelling[upper] = name;
    }
    if (own) {
        FreeEnvironmentStringsA(own);
    }
    for (const TLaunch::TChange &change : launch.changes) {
        std::string upper = change.name;
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
        if (change.remove) {
            byUpperName.erase(upper);
        } else {
            byUpperName[upper] = change.value;
            spelling[upper] = change.name;
        }
    }
    std::vector<char> block;
    for (const auto &entry : byUpperName) {
        std::string line = spelling[entry.first] + "=" + entry.second;
        block.insert(block.end(), line.begin(), line.end());
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

// Wine takes WINEDLLOVERRIDES from the Unix environment a process inherits, not from the block
// CreateProcess hands over; the per-program overrides in the registry reach the child. A launch's
// "name=n|b|d" entries become HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides values; an
// unset WINEDLLOVERRIDES removes them (Wine's default order).
void ApplyWineOverrides(const TLaunch &launch) {
    size_t slash = launch.program.find_last_of("\\/");
    std::string exe = slash == std::string::npos ? launch.program : launch.program.substr(slash + 1);
    std::string key = "Software\\Wine\\AppDefaults\\" + exe + "\\DllOverrides";
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    std::string overrides;
    bool set = false;
    for (const TLaunch::TChange &change : launch.changes) {
        if (lstrcmpiA(change.name.c_str(), "WINEDLLOVERRIDES") == 0) {
            overrides = change.remove ? "" : change.value;
            set = !change.remove;
        }
    }
    if (!set) {
        return;
    }
    HKEY opened;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS) {
        return;
    }
    size_t start = 0;
    while (start < overrides.size()) {
        size_t end = overrides.find(';', start);
        std::string entry = overrides.substr(start, end == std::string::npos ? end : end - start);
        size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            std::string mode, letters = entry.substr(equals + 1);
            for (char letter : letters) {
                const char *word = letter == 'n' ? "native" : letter == 'b' ? "builtin" : "";
                if (*word) {
                    mode += mode.empty() ? word : std::string(",") + word;
                }
            }
            std::string dll = entry.substr(0, equals);
            RegSetValueExA(opened, dll.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(mode.c_str()),
                           static_cast<DWORD>(mode.size() + 1));
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    RegCloseKey(opened);
}

struct TChildSearch {
    const std::string &className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
    auto *search = reinterpret_cast<TChildSearch *>(context);
    if (search->className.empty() || ClassNameOf(window) == search->className) {
        search->found.push_back(window);
    }
    return TRUE;
}

bool Matches(HWND window, const TWindowQuery &query) {
    return (query.title.empty() || WindowTextOf(window) == query.title) &&
           (query.className.empty() || ClassNameOf(window) == query.className);
}

std::string WithoutAmpersands(const std::string &text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

// Tells the standard icons apart by what they look like on the screen: the error icon is
// mostly red, information and question blue, warning yellow. Handles of system icons are not
// comparable across processes under every Windows, the pixels are.
TBoxIcon IconByColour(HWND iconControl) {
    RECT rect;
    if (!GetWindowRect(iconControl, &rect) || rect.right <= rect.left) {
        return TBoxIcon::Unknown;
    }
    // One copy of the rectangle off the screen (a GetPixel per pixel costs a screen read each).
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height; // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void *bits = nullptr;
    HBITMAP copy = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    int red = 0, blue = 0, yellow = 0;
    if (copy) {
        HGDIOBJ previous = SelectObject(memory, copy);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, previous);
        const BYTE *pixel = static_cast<const BYTE *>(bits); // blue, green, red, unused
        for (int i = 0; i < width * height; ++i, pixel += 4) {
            int r = pixel[2], g = pixel[1], b = pixel[0];
            if (r > 150 && g < 100 && b < 100) {
                ++red;
            } else if (b > 150 && r < 120) {
                ++blue;
            } else if (r > 180 && g > 150 && b < 90) {
                ++yellow;
            }
        }
        DeleteObject(copy);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    int most = std::max(red, std::max(blue, yellow));
    if (most < 20) {
        return TBoxIcon::Unknown;
    }
    if (most == red) {
        return TBoxIcon::Error;
    }
    return most == yellow ? TBoxIcon::Warning : TBoxIcon::Information;
}

TBoxIcon IconOf(HWND box) {
    for (const TControlInfo &control : Controls(box, "Static")) {
        if ((control.style & SS_TYPEMASK) != SS_ICON) {
            continue;
        }
        if (!control.visible) {
            return TBoxIcon::None;
        }
        HICON shown = reinterpret_cast<HICON>(Ask(control.window, STM_GETICON, 0, 0));
        if (!shown) {
            return TBoxIcon::None;
        }
        const struct {
            LPCSTR id;
            TBoxIcon icon;
        } standard[] = {{IDI_HAND, TBoxIcon::Error},
                        {IDI_EXCLAMATION, TBoxIcon::Warning},
                        {IDI_ASTERISK, TBoxIcon::Information},
                        {IDI_QUESTION, TBoxIcon::Question}};
        for (const auto &row : standard) {
            if (LoadIconA(nullptr, row.id) == shown) {
                return row.icon;
            }
        }
        return IconByColour(control.window);
    }
    return TBoxIcon::None;
}

} // namespace

// ---- Paths -----------------------------------------------------------------------------------

std::string WindowsPath(const std::string &path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string converted = "Z:" + path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

std::string JoinPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) {
        return name;
    }
    char last = folder.back();
    return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

bool MakeFolders(const std::string &path) {
    std::string windows = WindowsPath(path);
    for (size_t i = 3; i <= windows.size(); ++i) {
        if (i == windows.size() || windows[i] == '\\') {
            CreateDirectoryA(windows.substr(0, i).c_str(), nullptr);
        }
    }
    DWORD attributes = GetFileAttributesA(windows.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopyFileTo(const std::string &from, const std::string &toFolder, const std::string &name) {
    std::string source = WindowsPath(from);
    std::string target = name;
    if (target.empty()) {
        size_t slash = source.find_last_of("\\/");
        target = slash == std::string::npos ? source : source.substr(slash + 1);
    }
    return CopyFileA(source.c_str(), JoinPath(WindowsPath(toFolder), target).c_str(), FALSE) != 0;
}

bool WriteTextFile(const std::string &path, const std::string &text) {
    FILE *file = std::fopen(WindowsPath(path).c_str(), "wb");
    if (!file) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    FILE *file = std::fopen(WindowsPath(path).c_str(), "rb");
    if (!file) {
        return false;
    }
    bytes->clear();
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->append(buffer, got);
    }
    std::fclose(file);
    return true;
}

std::string StagedProgramFolder() { return WindowsPath(M770B_E2E_PROGRAM_FOLDER); }
std::string StagedSimulatorFolder() { return WindowsPath(M770B_E2E_SIM_FOLDER); }
std::string StagedSimulatorDll() { return WindowsPath(M770B_E2E_SIM_DLL); }
std::string FixtureDll(const std::string &name) {
    return JoinPath(JoinPath(WindowsPath(M770B_E2E_FIXTURES), name), "wnaspi32.dll");
}

std::string NewCaseFolder(const std::string &caseName) {
    std::string folder = JoinPath(WindowsPath(M770B_E2E_SCRATCH), caseName);
    EmptyFolder(folder);
    return folder;
}

bool EmptyFolder(const std::string &path) {
    std::string folder = WindowsPath(path);
    RemoveTree(folder);
    return MakeFolders(folder);
}

// ---- Starting the program --------------------------------------------------------------------

const char MainFormClass[] = "TMainForm";
const char WriteFormClass[] = "TWriteForm";
const char DialogClass[] = "#32770";

TLaunch ProgramLaunch(const std::string &workFolder, const std::string &programFolder) {
    TLaunch launch;
    std::string folder = programFolder.empty() ? StagedProgramFolder() : programFolder;
    launch.program = JoinPath(WindowsPath(folder), "M770BUpdate.exe");
    launch.workFolder = WindowsPath(workFolder);
    launch.Unset("WINEDLLOVERRIDES");
    launch.Unset("M770B_SIM_SCENARIO");
    return launch;
}

TProgramRun::~TProgramRun() {
    Kill();
    if (process_) {
        CloseHandle(process_);
    }
}

bool TProgramRun::Start(const TLaunch &launch) {
    if (process_) {
        error_ = "a program is already running in this run";
        return false;
    }
    std::string command = "\"" + launch.program + "\"";
    if (!launch.commandLine.empty()) {
        command += " " + launch.commandLine;
    }
    std::vector<char> commandBuffer(command.begin(), command.end());
    commandBuffer.push_back('\0');
    std::vector<char> environment = EnvironmentBlock(launch);
    ApplyWineOverrides(launch);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(launch.program.c_str(), commandBuffer.data(), nullptr, nullptr, FALSE, 0,
                        launch.changes.empty() ? nullptr : environment.data(),
                        launch.workFolder.empty() ? nullptr : launch.workFolder.c_str(), &startup,
                        &started)) {
        error_ = "CreateProcess of " + launch.program + " in " + launch.workFolder +
                 " failed with error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    // A program busy starting does not own windows yet; the waits below cover that.
    if (launch.waitForIdle) {
        WaitForInputIdle(process_, 5000);
    }
    return true;
}

bool TProgramRun::Adopt(const std::string &exeName, DWORD ms) {
    WaitUntil(
        [&] {
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32 entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32First(snapshot, &entry); more && !process_;
                 more = Process32Next(snapshot, &entry))
                if (lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) {
                    processId_ = entry.th32ProcessID;
                    process_ =
                        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE,
                                    FALSE, processId_);
                }
            CloseHandle(snapshot);
            return process_ != nullptr;
        },
        ms);
    if (!process_)
        error_ = "no process " + exeName + " came within " + std::to_string(ms) + " ms";
    return process_ != nullptr;
}

bool TProgramRun::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD TProgramRun::WaitForExit(DWORD ms) {
    DWORD code = ExitCodeWithin(ms);
    if (code == NotEnded) {
        Kill();
    }
    return code;
}

DWORD TProgramRun::ExitCodeWithin(DWORD ms) const {
    if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) {
        return NotEnded;
    }
    DWORD code = NotEnded;
    GetExitCodeProcess(process_, &code);
    return code;
}

void TProgramRun::Kill() {
    if (Running()) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
    }
}

std::vector<HWND> TProgramRun::TopLevelWindows(bool visibleOnly) const {
    return processId_ ? ProcessTopLevelWindows(processId_, visibleOnly) : std::vector<HWND>{};
}

std::vector<HWND> TProgramRun::Find(const TWindowQuery &query) const {
    std::vector<HWND> matching;
    for (HWND window : TopLevelWindows(query.visibleOnly)) {
        if (Matches(window, query)) {
            matching.push_back(window);
        }
    }
    return matching;
}

HWND TProgramRun::WaitForWindow(const TWindowQuery &query, DWORD ms) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> matching = Find(query);
            if (!matching.empty()) {
                found = matching.front();
                return true;
            }
            return !Running();
        },
        ms);
    return found;
}

bool TProgramRun::WaitForNoWindow(const TWindowQuery &query, DWORD ms) const {
    return WaitUntil([&] { return Find(query).empty(); }, ms);
}

// ---- Reading windows -------------------------------------------------------------------------

std::string WindowTextOf(HWND window) {
    // WM_GETTEXT reaches other processes' windows (GetWindowText does not for their controls).
    // One query, into a buffer that grows only for a text that fills it: a text read in two
    // queries (length, then text) could change in between.
    for (size_t size = 1024;; size *= 4) {
        std::string text(size, '\0');
        size_t copied = static_cast<size_t>(
            Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
        if (copied + 1 < size || size >= 65536) {
            text.resize(std::min(copied, size - 1));
            return text;
        }
    }
}

std::string ClassNameOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool TControlInfo::IsProgressBar() const { return className == PROGRESS_CLASSA; }

TControlInfo DescribeWindow(HWND window) {
    TControlInfo info;
    info.window = window;
    info.className = ClassNameOf(window);
    info.text = WindowTextOf(window);
    info.id = GetDlgCtrlID(window);
    info.visible = IsWindowVisible(window) != 0;
    info.enabled = IsWindowEnabled(window) != 0;
    GetWindowRect(window, &info.windowRect);
    GetClientRect(window, &info.clientRect);
    info.style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    info.exStyle = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    if (info.className == "Button") {
        info.checked = static_cast<int>(Ask(window, BM_GETCHECK, 0, 0));
    }
    if (info.IsProgressBar()) {
        info.progressPos = ProgressPosition(window);
        info.progressMin = static_cast<int>(Ask(window, PBM_GETRANGE, TRUE, 0));
        info.progressMax = static_cast<int>(Ask(window, PBM_GETRANGE, FALSE, 0));
    }
    return info;
}

std::vector<HWND> ChildWindows(HWND parent, const std::string &className) {
    TChildSearch search{className, {}};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<TControlInfo> Controls(HWND parent, const std::string &className) {
    std::vector<TControlInfo> controls;
    for (HWND child : ChildWindows(parent, className)) {
        controls.push_back(DescribeWindow(child));
    }
    return controls;
}

HWND ControlWithText(HWND parent, const std::string &text) {
    for (HWND child : ChildWindows(parent)) {
        if (WindowTextOf(child) == text) {
            return child;
        }
    }
    return nullptr;
}

HWND ControlWithId(HWND parent, int id) {
    for (HWND child : ChildWindows(parent)) {
        if (GetDlgCtrlID(child) == id) {
            return child;
        }
    }
    return nullptr;
}

const char *BoxIconName(TBoxIcon icon) {
    switch (icon) {
    case TBoxIcon::None:
        return "none";
    case TBoxIcon::Error:
        return "error";
    case TBoxIcon::Warning:
        return "warning";
    case TBoxIcon::Information:
        return "information";
    case TBoxIcon::Question:
        return "question";
    case TBoxIcon::Unknown:
        break;
    }
    return "unknown";
}

TMessageBoxInfo ReadMessageBox(HWND box) {
    TMessageBoxInfo info;
    if (!box || ClassNameOf(box) != "#32770") {
        return info;
    }
    info.valid = true;
    info.title = WindowTextOf(box);
    info.topMost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    info.icon = IconOf(box);
    std::vector<HWND> pushButtons;
    for (const TControlInfo &control : Controls(box)) {
        if (control.className == "Button" && control.visible) {
            info.buttons.push_back(WithoutAmpersands(control.text));
            pushButtons.push_back(control.window);
            if (control.id == IDOK) {
                info.okButton = control.window;
            }
        } else if (control.className == "Static" && (control.style & SS_TYPEMASK) != SS_ICON &&
                   info.text.empty()) {
            info.text = control.text;
        }
    }
    if (!info.okButton && pushButtons.size() == 1) {
        info.okButton = pushButtons.front();
    }
    return info;
}

bool IsChecked(HWND box) {
    return Ask(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int ProgressPosition(HWND bar) {
    return static_cast<int>(Ask(bar, PBM_GETPOS, 0, 0, -1));
}

// ---- Acting ----------------------------------------------------------------------------------

void PressButton(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void PressOk(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

bool SetChecked(HWND box, bool checked, DWORD ms) {
    if (IsChecked(box) != checked) {
        PressButton(box);
    }
    return WaitUntil([&] { return IsChecked(box) == checked; }, ms);
}

void RequestClose(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

void SystemClose(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

// ---- Watching --------------------------------------------------------------------------------

bool WaitUntil(const std::function<bool()> &probe, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (probe()) {
            return true;
        }
        if (GetTickCount() - start >= ms) {
            return false;
        }
        Sleep(1);
    }
}

// ---- Screenshots -----------------------------------------------------------------------------

bool SaveScreenshot(HWND window, const std::string &bmpPath) {
    RECT rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window && !GetWindowRect(window, &rect)) {
        return false;
    }
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (picture) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, previous);
        DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageBytes;
        format.bmiHeader.biSizeImage = imageBytes;
        FILE *file = std::fopen(WindowsPath(bmpPath).c_str(), "wb");
        if (file) {
            saved = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                    std::fwrite(&format.bmiHeader, sizeof format.bmiHeader, 1, file) == 1 &&
                    std::fwrite(bits, 1, imageBytes, file) == imageBytes;
            saved = std::fclose(file) == 0 && saved;
        }
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
