#include "app/StartRecord.h"

#include <windows.h>

#include <winver.h>

#include <cstring>
#include <string>

#include "ProjectVersion.h"
#include "record/RunRecord.h"
#include "scsi/AspiBinding.h"
#include "ui/SystemCall.h"

namespace {

std::string WindowsVersion() {
    using RtlGetVersionCall = LONG(WINAPI *)(OSVERSIONINFOW *);
    auto rtlGetVersion =
        FindSystemCall<RtlGetVersionCall>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        return "Windows version unknown";
    std::string text = "Windows " + std::to_string(info.dwMajorVersion) + "." +
                       std::to_string(info.dwMinorVersion) + " build " +
                       std::to_string(info.dwBuildNumber);
    if (info.szCSDVersion[0])
        text += ' ';
    for (const WCHAR *c = info.szCSDVersion; *c; ++c)
        text += *c < 0x80 ? static_cast<char>(*c) : '?';
    return text;
}

// Under Wine, "Wine <version> as " before the Windows version Wine reports; "" on Windows.
std::string WineText() {
    const char *version = WineVersion();
    return version ? "Wine " + Escaped(version) + " as " : "";
}

// A 64-bit program runs only on 64-bit Windows; the 32-bit one asks whether it runs under WOW64
// (IsWow64Process: Windows XP SP2 and later).
bool Is64BitWindows() {
    if (sizeof(void *) == 8)
        return true;
    using IsWow64ProcessCall = BOOL(WINAPI *)(HANDLE, BOOL *);
    auto isWow64Process =
        FindSystemCall<IsWow64ProcessCall>(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// TokenElevation (Windows Vista and later); Windows XP refuses the question.
const char *Elevation() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "unknown";
    DWORD elevated = 0; // TOKEN_ELEVATION: one DWORD
    DWORD size = 0;
    const BOOL answered =
        GetTokenInformation(token, TokenElevation, &elevated, sizeof elevated, &size);
    CloseHandle(token);
    if (!answered)
        return "unknown";
    return elevated ? "yes" : "no";
}

// The file version of `module` from its version resource: VS_VERSIONINFO's three WORDs and its
// key L"VS_VERSION_INFO" (32 bytes) padded to 40 bytes, then VS_FIXEDFILEINFO.
std::string FileVersion(HMODULE module) {
    constexpr DWORD FixedInfoOffset = 40;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO),
                                   MAKEINTRESOURCEA(16)); // RT_VERSION
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const BYTE *data = loaded ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
    VS_FIXEDFILEINFO fixed = {};
    if (data && SizeofResource(module, resource) >= FixedInfoOffset + sizeof fixed)
        std::memcpy(&fixed, data + FixedInfoOffset, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return "no version resource";
    return "file version " + std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed.dwFileVersionLS));
}

} // namespace

void RecordProgramStart() {
    if (!RunRecordOpen())
        return;
    RecordLine("M770BUpdate " M770B_VERSION_TEXT " started; " + WineText() + WindowsVersion() +
               "; " + (Is64BitWindows() ? "64" : "32") + "-bit Windows; elevated: " + Elevation());
}

void RecordAspiLibrary() {
    if (!RunRecordOpen())
        return;
    HMODULE library = BoundAspiLibrary();
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library, path, sizeof path);
    RecordLine(std::string("wnaspi32.dll bound: ") + path + ", " + FileVersion(library));
}
