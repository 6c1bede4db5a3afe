#include "tests/e2e/robot/RecordLines.h"

#include <regex>

#include "ProjectVersion.h"
#include "tests/e2e/robot/Robot.h"

std::vector<std::string> ReadRecordLines(const std::string &folder) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ ms  (.*)\r$)");
    std::string text;
    std::vector<std::string> lines;
    if (!ReadWholeFile(JoinPath(folder, "M770BUpdate.log"), &text))
        return lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        std::smatch match;
        lines.push_back(std::regex_match(line, match, stamp) ? match.str(1) : "BAD LINE: " + line);
    }
    if (start < text.size())
        lines.push_back("BAD LINE: " + text.substr(start));
    return lines;
}

bool IsRecordStartLine(const std::string &line) {
    // Under Wine, the Wine the robot itself runs under, which is the program's.
    using WineGetVersionCall = const char *(CDECL *)();
    auto wineGetVersion = reinterpret_cast<WineGetVersionCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    const std::string head =
        std::string("M770BUpdate " M770B_VERSION_TEXT " started; ") +
        (wineGetVersion ? "Wine " + std::string(wineGetVersion()) + " as " : "");
    // The 64-bit build runs only on 64-bit Windows; the 32-bit one runs here under 32-bit Wine
    // (a 32-bit prefix, in the i686 session and in the real-stack guest).
    const std::string width = sizeof(void *) == 8 ? "64" : "32";
    return line.compare(0, head.size(), head) == 0 &&
           std::regex_match(line.substr(head.size()),
                            std::regex("Windows (\\d+\\.\\d+ build \\d+[^;]*|version unknown); " +
                                       width + "-bit Windows; elevated: (yes|no|unknown)"));
}

std::string InQuotes(const std::string &text) {
    return '"' + text + '"';
}
