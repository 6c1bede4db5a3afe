// The screen's pixel density for the programs the robot starts, and text measured as a control
// draws it.
//
//   {
//       TScreenDensity density(144);          // 150 %: programs started from now see 144 dpi
//       TProgramRun run; run.Start(...);      // reads the density once, at its start
//   }                                         // the density the session had is back
//   SIZE size;
//   TextExtentInOwnFont(label, &size, &made); // the label's text in the label's own font
#ifndef M770B_TESTS_E2E_ROBOT_DENSITY_H
#define M770B_TESTS_E2E_ROBOT_DENSITY_H

#include <windows.h>

// Wine takes the density of a process from LogPixels under HKCU\Control Panel\Desktop when the
// process starts (96 without it). While an object lives, programs started get `dpi`; its end
// puts the value back as it was (or removes it), so other cases in the same Wine prefix keep
// theirs. A value of `dpi` found at the start is taken for one left by a case that was killed,
// and removed at the end. (A Wine prefix of its own would cost the case the set-up of a prefix:
// 30 to 60 s more than a session in an existing one, measured here on 2 CPUs; the registry value
// costs nothing measurable.)
class TScreenDensity {
  public:
    explicit TScreenDensity(DWORD dpi);
    ~TScreenDensity();
    TScreenDensity(const TScreenDensity &) = delete;
    TScreenDensity &operator=(const TScreenDensity &) = delete;
    bool Set() const { return set_; }

  private:
    bool set_ = false, hadValue_ = false;
    DWORD previous_ = 0;
};

// The size of the control's text, on one line, in the font the control draws with: WM_GETFONT,
// rebuilt in the robot from that font's LOGFONT. Asked from another process, Wine answers
// WM_GETFONT with no font (and keeps a font's description in the process that made it), so
// there the font is rebuilt from `made`, what the program is meant to have made; false when
// neither can be had.
bool TextExtentInOwnFont(HWND control, SIZE *extent, const LOGFONTW *made = nullptr);

#endif
