// The record's file and its one line format.
#include <windows.h>

#include "record/RunRecord.h"

namespace {

const char RecordFileName[] = "M770BUpdate.log";

HANDLE RecordFile = INVALID_HANDLE_VALUE;
HANDLE FlushHandle = INVALID_HANDLE_VALUE; // under Wine only, see OpenFlushHandle
DWORD StartTick;

// `value` in decimal, at least `width` characters, filled with `fill` on the left.
void AppendDecimal(std::string &text, unsigned long value, int width, char fill) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    text.append(width > count ? width - count : 0, fill);
    while (count > 0)
        text += digits[--count];
}

// "2026-12-08 14:03:12.345    1234 ms  ": local date and time, milliseconds since the start.
std::string Stamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const struct {
        unsigned value;
        int width;
        char after;
    } fields[] = {{now.wYear, 4, '-'},        {now.wMonth, 2, '-'},  {now.wDay, 2, ' '},
                  {now.wHour, 2, ':'},        {now.wMinute, 2, ':'}, {now.wSecond, 2, '.'},
                  {now.wMilliseconds, 3, ' '}};
    std::string stamp;
    for (const auto &field : fields) {
        AppendDecimal(stamp, field.value, field.width, '0');
        stamp += field.after;
    }
    AppendDecimal(stamp, GetTickCount() - StartTick, 7, ' ');
    return stamp + " ms  ";
}

// Wine takes FILE_FLAG_WRITE_THROUGH for nothing (Wine 8 opens the file without O_SYNC or
// O_DSYNC): a line is then in Linux's page cache when WriteFile returns. Under Wine the record is
// opened a second time, for writing (GENERIC_WRITE, which FlushFileBuffers needs; nothing is
// written through it), and flushed after each line; Wine's flush is fsync, which writes the
// file's data whatever handle wrote it.
void OpenFlushHandle() {
    if (!WineVersion())
        return;
    FlushHandle = CreateFileA(RecordFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

const char *WineVersion() {
    using WineGetVersionCall = const char *(CDECL *)();
    auto wineGetVersion = reinterpret_cast<WineGetVersionCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return wineGetVersion ? wineGetVersion() : nullptr;
}

void OpenRunRecord() {
    StartTick = GetTickCount();
    // Appending only: every write goes to the end, whoever else has the file open (a technician
    // reading it). No buffering of our own, and none of the system's: with write-through each
    // WriteFile returns once its line is on the disk, so a power cut loses no line written
    // before it (an append-only handle cannot be flushed afterwards with FlushFileBuffers).
    RecordFile =
        CreateFileA(RecordFileName, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (RunRecordOpen())
        OpenFlushHandle();
}

bool RunRecordOpen() {
    return RecordFile != INVALID_HANDLE_VALUE;
}

void RecordLine(const std::string &text) {
    if (!RunRecordOpen())
        return;
    const std::string line = Stamp() + text + "\r\n";
    DWORD written = 0;
    // A failed write changes nothing: the program goes on as without the record.
    WriteFile(RecordFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (FlushHandle != INVALID_HANDLE_VALUE)
        FlushFileBuffers(FlushHandle);
}

std::string HexDigits(unsigned value) {
    const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0x0F], digits[value & 0x0F]};
}

std::string HexByte(unsigned value) {
    return "0x" + HexDigits(value);
}

std::string Escaped(const std::string &text) {
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            escaped += {'\\', c};
        else if (byte < 0x20 || byte >= 0x7F)
            escaped += "\\x" + HexDigits(byte);
        else
            escaped += c;
    }
    return escaped;
}

std::string Quoted(const std::string &text) {
    return '"' + Escaped(text) + '"';
}
