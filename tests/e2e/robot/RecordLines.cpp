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

namespace {

// `text` with every character that a regular expression gives a meaning escaped.
std::string Literally(const std::string &text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// "Wine <version> as " when the robot itself runs under Wine (the program's Wine is the same),
// "" on Windows.
std::string WineOfTheRobot() {
    using WineGetVersionCall = const char *(CDECL *)();
    auto wineGetVersion = reinterpret_cast<WineGetVersionCall>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    return wineGetVersion ? "Wine " + std::string(wineGetVersion()) + " as " : "";
}

} // namespace

bool IsRecordStartLine(const std::string &line) {
    const std::string width = sizeof(void *) == 8 ? "64" : "(32|64)";
    return std::regex_match(line, std::regex("M770BUpdate " + Literally(M770B_VERSION_TEXT) +
                                             " started; " + Literally(WineOfTheRobot()) +
                                             "Windows (\\d+\\.\\d+ build \\d+[^;]*|"
                                             "version unknown); " +
                                             width + "-bit Windows; elevated: (yes|no|unknown)"));
}

std::string InQuotes(const std::string &text) {
    return '"' + text + '"';
}
