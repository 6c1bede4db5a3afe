// The run's record: "M770BUpdate.log" in the working folder (beside Firmware.bin), plain text,
// one event a line, each line stamped with the local date and time and the milliseconds since
// the record was opened, CRLF line ends. Every layer of the program tells it what it alone
// knows (the start, discovery, a failed request's raw status, each drive of the update and each
// step of its write), and the end of the run writes the outcome of the drives not yet told and
// the last line, before the box that ends the run can stand.
//
// Each line is written with one WriteFile on a handle opened for appending with write-through
// (under Wine, which ignores write-through, the file is also flushed after each line), so it is
// on the disk before the call returns (before the next request is sent, and whichever way the
// process ends after it, a power cut included). The record changes nothing the program
// does: where the file cannot be opened or a line cannot be written, every call returns at once
// and the program runs as without it. It is off until OpenRunRecord, so unit tests and other
// callers never write a file.
#ifndef M770B_RECORD_RUNRECORD_H
#define M770B_RECORD_RUNRECORD_H

#include <string>
#include <vector>

// Opens "M770BUpdate.log" in the working folder for appending; the time of the call is the start
// that every line counts its milliseconds from.
void OpenRunRecord();

// Wine's version where the program runs under Wine, null on Windows: wine_get_version, which only
// Wine's ntdll exports (Wine's own way for a program to tell), looked up at run time.
const char *WineVersion();

// Whether lines reach a file: a caller whose line costs work of its own (reading a file again,
// asking Windows) skips it when not.
bool RunRecordOpen();

// One line: the stamp, two blanks, `text`, CR LF.
void RecordLine(const std::string &text);

// Text pieces of the one line format.
std::string HexByte(unsigned value);   // "0x85"
std::string HexDigits(unsigned value); // "85", two upper-case digits
// `text` with a quote, a backslash and every byte outside printable ASCII escaped (\", \\, \xNN):
// bytes from the drive or the file cannot end a quoted text, start a line or reach a terminal.
std::string Escaped(const std::string &text);
std::string Quoted(const std::string &text); // "\"" + Escaped(text) + "\""

// The update run: the captions of the ticked drives, in the order they will be written.
void RecordRunDrives(const std::vector<std::string> &captions);
// The next drive of the run starts; its caption is recorded.
void RecordDriveStarted();
// The step of the drive's write sequence that starts now, before its request is sent ("erase",
// "chunk 4 of 8", "checksum read"; a static text): the line "Drive <caption>: starting <step>",
// so that a record cut off there names it. The step is kept for the drive's outcome at the end.
void RecordDriveStep(const char *step);
// A line about the drive now written: its caption, then `text`.
void RecordDriveNote(const std::string &text);
// The drive now written matched the image's checksum.
void RecordDriveVerified();

// The end of the run, whichever way it comes: the outcome of every drive of the run not yet
// told (failed at its step, or not started) and the last line, how the run ended. Written by the
// boxes that end the process before they are shown, and by the process end. Writes once; later
// calls, and drive lines after it, do nothing.
void RecordEnd();

// A failure is about to be shown. While a drive is being written that is the end of the run
// (every step that meets a failure ends the process after its box): RecordEnd, now, so that the
// record is whole while the box stands. Before the update and between drives, nothing.
void RecordFailureShown();

#endif
