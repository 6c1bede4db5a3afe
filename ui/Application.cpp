#include "ui/Application.h"

#include <commctrl.h>

#include <algorithm>

#include "record/RunRecord.h"
#include "ui/Form.h"
#include "ui/MessageLoop.h"

TApplication Application;

namespace {

const char ApplicationWindowClass[] = "TApplicationWindow";

// The program file's name without folder and extension.
std::string TitleFromModuleName() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length);
    std::size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

} // namespace

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls))
        InitCommonControls();
    if (handle_)
        return;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = Instance();
    windowClass.lpszClassName = ApplicationWindowClass;
    RegisterClassExA(&windowClass);
    // A message-only window: never seen, never enumerated, never disabled by a modal showing.
    handle_ = CreateWindowExA(0, ApplicationWindowClass, Title().c_str(), 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, Instance(), nullptr);
    if (!handle_)
        throw Exception("Cannot create the application window");
}

LRESULT CALLBACK TApplication::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == UM_SYNCHRONIZE) {
        try {
            reinterpret_cast<TSynchronizedCall *>(lParam)->Invoke();
        } catch (...) {
            Application.HandleWindowException();
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void TApplication::Run() {
    if (ShowMainForm && mainForm_ && showMainForm_)
        showMainForm_(mainForm_);
    RunMessageLoop();
}

void TApplication::Terminate() {
    PostQuitMessage(0);
}

void TApplication::DispatchOne(MSG &message) {
    DispatchMessageOf(message);
}

const std::string &TApplication::Title() {
    if (title_.empty())
        title_ = TitleFromModuleName();
    return title_;
}

HINSTANCE TApplication::Instance() const {
    return GetModuleHandleA(nullptr);
}

HICON TApplication::Icon() {
    if (!icon_)
        icon_ = LoadIconA(Instance(), "MAINICON");
    if (!icon_)
        icon_ = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    return icon_;
}

void TApplication::ShowException(const Exception &exception) {
    ShowException(exception.what());
}

void TApplication::ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception &e) { // the toolkit's Exception among them
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown exception");
    }
}

void TApplication::HandleWindowException() {
    ShowCurrentException();
    if (mainForm_ && !mainForm_->Visible() && EndAfterException)
        EndAfterException();
}

void TApplication::ShowException(const char *message) {
    RecordLine("Exception box: " + Quoted(message));
    RecordFailureShown();
    MessageBoxA(GetActiveWindow(), message, Title().c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::AddForm(TForm *form) {
    if (!mainForm_)
        mainForm_ = form;
    forms_.push_back(form);
}

void TApplication::RemoveForm(TForm *form) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
    if (mainForm_ == form) {
        mainForm_ = nullptr;
        showMainForm_ = nullptr;
    }
}
