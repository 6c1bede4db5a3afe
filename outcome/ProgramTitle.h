// The program's title: the caption every window is designed with and the title of every message
// box. Windows that show the image revision add a blank and the revision to it.
#ifndef M770B_OUTCOME_PROGRAMTITLE_H
#define M770B_OUTCOME_PROGRAMTITLE_H

inline constexpr char ProgramTitle[] = "ZD-M770B Firmware update";

#endif
