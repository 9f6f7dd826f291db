// The driver's entry point: one process per device number, guarded by a mutex named after the
// initial window title, with the control libraries loaded, a minimised main window and the
// accelerator loop. The infodriver client and the serial port are built before this runs and
// taken down after it returns (app/statics.cpp).
#include "app/foreign_timer.h"
#include "app/leading_number.h"
#include "app/mainwnd.h"
#include "app/title.h"
#include "protocol/settings.h"
#include "resources/resource.h"

#include <windows.h>

namespace {

constexpr int COMMAND_LINE_CHARS = 254; // only this much of the command line is looked at
constexpr int START_FAILED = -1;

int Refuse(const char* pszText, const char* pszCaption) {
    MessageBoxA(nullptr, pszText, pszCaption, MB_OK | MB_ICONERROR);
    return START_FAILED;
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR pszCommandLine, int) {
    // Before the first message box: its loop dispatches whatever is posted to this thread.
    GuardModalLoops();
    char szArguments[COMMAND_LINE_CHARS + 1] = "";
    lstrcpynA(szArguments, pszCommandLine != nullptr ? pszCommandLine : "", sizeof szArguments);
    iDeviceNumber = LeadingNumber(szArguments);
    if (iDeviceNumber < 1 || iDeviceNumber > 999)
        return Refuse("Valid device number must be supplied as command line parameter", "Error");

    LoadTitleStrings(hInstance);
    FormatWindowTitle("loading");
    char szClassName[TITLE_CHARS] = "";
    LoadStringA(hInstance, IDS_CLASS_NAME, szClassName, sizeof szClassName);

    // Owned until the process ends; the system releases it then. Any other failure lets the start
    // go on: only a second driver for the same device is refused.
    CreateMutexA(nullptr, TRUE, szWindowTitle);
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return Refuse("Dravik driver is already running", "Error");

    hInst = hInstance;
    RegisterMainClass(szClassName);

    // Both are tried before either is looked at, and one message stands for both.
    HMODULE hControls = LoadLibraryA("vorn_cc.dll");
    HMODULE hControls09 = LoadLibraryA("vorn_cc09.dll");
    if (hControls == nullptr || hControls09 == nullptr)
        return Refuse("Failed to load vorn_cc.dll", "ERROR");

    HWND hWnd = CreateWindowExA(0, szClassName, szWindowTitle, WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, 0,
                                MAIN_WIDTH, MAIN_FULL_HEIGHT, nullptr, nullptr, hInstance, nullptr);
    if (hWnd == nullptr)
        return START_FAILED;
    hMainWnd = hWnd;
    ShowWindow(hWnd, SW_MINIMIZE);
    UpdateWindow(hWnd);

    HACCEL hAccelerators = LoadAcceleratorsA(hInstance, MAKEINTRESOURCEA(IDR_MAINMENU));
    // The loop ends once the main window has gone, whoever took the quit message its destruction
    // posts: the system's loops for a keyboard move and for the menu bar take it and drop it
    // (Wine), and return into the dispatch below. A quit that another process posts while the
    // window exists ends nothing.
    MSG msg{};
    while (IsWindow(hWnd)) {
        const BOOL iGot = GetMessageA(&msg, nullptr, 0, 0);
        if (iGot == -1)
            break;
        if (iGot == 0 || IsForeignTimer(msg))
            continue;
        if (TranslateAcceleratorA(msg.hwnd, hAccelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
