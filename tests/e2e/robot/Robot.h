// The end-to-end robot: starts M770BUpdate.exe as a person would (its own working folder, an
// environment of the test's choosing), finds the program's top-level windows and message boxes,
// reads every control (class, id, text, visibility, tick state, rectangles, styles, progress),
// presses buttons, takes screenshots and reads the exit code. Every wait is bounded: a window
// that does not answer a query within 2 s reads as empty, and a program that does not end in
// time is killed (WaitForExit) or left running (ExitCodeWithin) as the test chooses.
//
// Typical case:
//   TLaunch launch = ProgramLaunch(NewCaseFolder("no_library"));
//   launch.Set("WINEDLLOVERRIDES", "wnaspi32=d");
//   TProgramRun run;
//   ASSERT_TRUE(run.Start(launch)) << run.Error();
//   HWND box = run.WaitForWindow(TWindowQuery::MessageBox(), 10000);
//   TMessageBoxInfo info = ReadMessageBox(box);      // title, text, icon, top-most, OK button
//   PressButton(info.okButton);
//   EXPECT_EQ(0u, run.WaitForExit(10000));           // TProgramRun::NotEnded on time-out (killed)
#ifndef M770B_TESTS_E2E_ROBOT_ROBOT_H
#define M770B_TESTS_E2E_ROBOT_ROBOT_H

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// ---- Paths (CMake hands Unix paths; under Wine the root of the Unix tree is drive Z:) ----------
std::string WindowsPath(const std::string &path);   // "/x/y" -> "Z:\x\y"; Windows paths unchanged
std::string JoinPath(const std::string &folder, const std::string &name); // with a backslash
bool MakeFolders(const std::string &path);          // like mkdir -p
bool CopyFileTo(const std::string &from, const std::string &toFolder, const std::string &name = "");
bool WriteTextFile(const std::string &path, const std::string &text);
bool ReadWholeFile(const std::string &path, std::string *bytes);

// The staged program folder (M770BUpdate.exe, and the simulator's wnaspi32.dll when built), the
// scratch root, and the fixture folders, as the build staged them (Windows paths).
std::string StagedProgramFolder();     // holds M770BUpdate.exe only
std::string StagedSimulatorFolder();   // M770BUpdate.exe beside the simulator's wnaspi32.dll
std::string StagedSimulatorDll();      // the simulator's wnaspi32.dll ("" when not built)
std::string FixtureDll(const std::string &name); // tests/e2e/fixtures: e.g. "no_support_info"
// A fresh, empty folder for one case under the scratch root (emptied if it exists).
std::string NewCaseFolder(const std::string &caseName);
// The folder made empty: its contents removed if it exists, else made with its parents.
bool EmptyFolder(const std::string &path);

// ---- Starting the program --------------------------------------------------------------------
struct TLaunch {
    std::string program;      // full path of the .exe
    std::string workFolder;   // its current directory
    std::string commandLine;  // extra arguments
    // Changes to the robot's own environment: value set, or removed when `remove`.
    struct TChange {
        std::string name, value;
        bool remove;
    };
    std::vector<TChange> changes;
    bool waitForIdle = true; // false: Start returns before the program reaches its message loop
    void Set(const std::string &name, const std::string &value) {
        changes.push_back({name, value, false});
    }
    void Unset(const std::string &name) { changes.push_back({name, "", true}); }
};
// The program's window classes.
extern const char MainFormClass[];  // "TMainForm"
extern const char WriteFormClass[]; // "TWriteForm", the progress window
extern const char DialogClass[];    // "#32770", the message boxes

// The staged program (program folder `programFolder`, default StagedProgramFolder()) started in
// `workFolder`, with WINEDLLOVERRIDES removed (Wine's builtin wnaspi32.dll) until the test sets it.
TLaunch ProgramLaunch(const std::string &workFolder, const std::string &programFolder = "");

// Describes the top-level windows to wait for; empty fields match anything.
struct TWindowQuery {
    std::string title;
    std::string className;
    bool visibleOnly = true;
    static TWindowQuery MessageBox(const std::string &title = "") { return {title, "#32770", true}; }
    static TWindowQuery OfClass(const std::string &className) { return {"", className, true}; }
};

class TProgramRun {
  public:
    static constexpr DWORD NotEnded = 0xFFFFFFFF;
    TProgramRun() = default;
    // Starts the program at once; Started() and Error() tell how that went.
    explicit TProgramRun(const TLaunch &launch) { Start(launch); }
    ~TProgramRun(); // kills a program still running, so a failed case leaves nothing behind
    TProgramRun(const TProgramRun &) = delete;
    TProgramRun &operator=(const TProgramRun &) = delete;

    // False with Error() set. A launch without environment changes hands the program the robot's
    // own environment as it is.
    bool Start(const TLaunch &launch);
    // Watches a program that another process started in this Wine session: the first process
    // whose file is named `exeName`, found within `ms`; false with Error() set.
    bool Adopt(const std::string &exeName, DWORD ms);
    bool Started() const { return process_ != nullptr; }
    const std::string &Error() const { return error_; }
    DWORD ProcessId() const { return processId_; }
    bool Running() const;
    // The exit code once the program ends within `ms`; otherwise it is killed and NotEnded returned.
    DWORD WaitForExit(DWORD ms);
    // The exit code once the program ends within `ms`; otherwise NotEnded, the program running on.
    DWORD ExitCodeWithin(DWORD ms) const;
    void Kill();

    // Top-level windows of the process in Z order (visible ones only unless told otherwise).
    std::vector<HWND> TopLevelWindows(bool visibleOnly = true) const;
    std::vector<HWND> Find(const TWindowQuery &query) const;
    // The first window matching within `ms`; null on time-out or when the program ended.
    HWND WaitForWindow(const TWindowQuery &query, DWORD ms) const;
    // Waits until no window matches (e.g. a dialog closed); false on time-out.
    bool WaitForNoWindow(const TWindowQuery &query, DWORD ms) const;

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    std::string error_;
};

// ---- Reading windows -------------------------------------------------------------------------
struct TControlInfo {
    HWND window = nullptr;
    std::string className;
    std::string text;
    int id = 0;
    bool visible = false, enabled = false;
    int checked = -1; // BM_GETCHECK for buttons (BST_UNCHECKED/CHECKED/INDETERMINATE), else -1
    RECT windowRect{}, clientRect{}; // screen coordinates / client size
    DWORD style = 0, exStyle = 0;
    int progressPos = -1, progressMin = 0, progressMax = 0; // progress bars only
    bool IsProgressBar() const;
};
std::string WindowTextOf(HWND window);
std::string ClassNameOf(HWND window);
TControlInfo DescribeWindow(HWND window);
// Every descendant control in creation order (EnumChildWindows), optionally of one class.
std::vector<HWND> ChildWindows(HWND parent, const std::string &className = "");
// The same, each described.
std::vector<TControlInfo> Controls(HWND parent, const std::string &className = "");
// The first control with that text (exact), or with that id; null when none.
HWND ControlWithText(HWND parent, const std::string &text);
HWND ControlWithId(HWND parent, int id);

enum class TBoxIcon { None, Error, Warning, Information, Question, Unknown };
const char *BoxIconName(TBoxIcon icon);
struct TMessageBoxInfo {
    bool valid = false; // a dialog of class #32770
    std::string title, text;
    TBoxIcon icon = TBoxIcon::None;
    bool topMost = false;
    std::vector<std::string> buttons; // texts of the push buttons, "&" removed
    HWND okButton = nullptr;          // the button with id IDOK, or the only button
};
TMessageBoxInfo ReadMessageBox(HWND box);

// Single readings, cheap enough to poll.
bool IsChecked(HWND box);
int ProgressPosition(HWND bar); // -1 when the bar does not answer

// ---- Acting ----------------------------------------------------------------------------------
// Posts BM_CLICK: the program handles it on its own thread, and the robot does not wait for
// whatever the click starts (a sent click would block until a modal box it opens is closed).
void PressButton(HWND button);
// Posts the OK command to a message box, as Enter would.
void PressOk(HWND box);
// Ticks or unticks a check box by clicking it when its state differs; false when it did not change
// within `ms`.
bool SetChecked(HWND box, bool checked, DWORD ms = 2000);
void RequestClose(HWND window);   // WM_CLOSE
void SystemClose(HWND window);    // WM_SYSCOMMAND SC_CLOSE, as the title bar's close box

// ---- Watching --------------------------------------------------------------------------------
// Repeats `probe` every millisecond or so until it holds or `ms` pass.
bool WaitUntil(const std::function<bool()> &probe, DWORD ms);

// ---- Screenshots -----------------------------------------------------------------------------
// Saves the window's rectangle as seen on the screen (null: the whole screen) to a 24-bit BMP.
bool SaveScreenshot(HWND window, const std::string &bmpPath);

#endif
