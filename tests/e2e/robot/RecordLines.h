// The run's record (M770BUpdate.log) as a test reads it after a run.
#ifndef M770B_TESTS_E2E_ROBOT_RECORDLINES_H
#define M770B_TESTS_E2E_ROBOT_RECORDLINES_H

#include <string>
#include <vector>

// The lines of M770BUpdate.log in `folder`, each without its stamp ("2026-12-08 14:03:12.345
// 1234 ms  ") and its CR LF. A line whose stamp or line end is wrong comes back whole after
// "BAD LINE: ", so that the comparison that follows shows it.
std::vector<std::string> ReadRecordLines(const std::string &folder);

// True for the record's first line of this build: its version, under Wine the Wine the robot
// runs under, any Windows version, the width of Windows (64-bit for the 64-bit program, 32-bit
// for the 32-bit one, which the tests run in 32-bit prefixes only) and whether it runs elevated.
bool IsRecordStartLine(const std::string &line);

// "\"text\"", as the record quotes captions and messages.
std::string InQuotes(const std::string &text);

#endif
