// The driver's entry point: one process per device number, guarded by a mutex named after the
// initial window title, with the control libraries loaded, a minimised main window and the
// accelerator loop. The infodriver client and the serial port are built before this runs and
// taken down after it returns (app/statics.cpp).
#include "app/foreign_timer.h"
#include "app/leading_number.h"
#include "app/mainwnd.h"
#include "app/process_policy.h"
#include "app/title.h"
#include "protocol/settings.h"
#include "resources/resource.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int COMMAND_LINE_CHARS = 254; // only this much of the command line is looked at
constexpr int START_FAILED = -1;

int Refuse(const char* pszText, const char* pszCaption) {
    MessageBoxA(nullptr, pszText, pszCaption, MB_OK | MB_ICONERROR);
    return START_FAILED;
}

struct ControlLibrary {
    const char* pszName;
    HMODULE hModule;
    DWORD dwError;
};

ControlLibrary LoadControlLibrary(const char* pszName) {
    HMODULE hModule = LoadLibraryA(pszName);
    return ControlLibrary{pszName, hModule, hModule == nullptr ? GetLastError() : ERROR_SUCCESS};
}

// The message the control system knows, then each library that failed and why: 126 for one that
// is missing, or that misses a library of its own, 193 for one built for the other width of
// Windows (a 32-bit library beside this 64-bit driver).
int RefuseControlLibraries(const ControlLibrary (&Libraries)[2]) {
    constexpr unsigned BITS = sizeof(void*) * 8;
    char szText[256] = "Failed to load vorn_cc.dll\n";
    for (const ControlLibrary& Library : Libraries) {
        if (Library.hModule != nullptr)
            continue;
        char szWhy[64] = "";
        if (Library.dwError == ERROR_MOD_NOT_FOUND)
            std::snprintf(szWhy, sizeof szWhy, " (it, or a library it needs, is missing)");
        else if (Library.dwError == ERROR_BAD_EXE_FORMAT)
            std::snprintf(szWhy, sizeof szWhy, " (not a %u-bit library, as this driver needs)", BITS);
        const std::size_t uUsed = std::strlen(szText);
        std::snprintf(szText + uUsed, sizeof szText - uUsed, "\n%s: error %lu%s", Library.pszName,
                      Library.dwError, szWhy);
    }
    return Refuse(szText, "ERROR");
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR pszCommandLine, int) {
    ApplyProcessPolicy();
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

    // Owned until the process ends; the system releases it then. A driver started at another
    // privilege level holds one this process may not open. Any other failure lets the start go
    // on: only a second driver for the same device is refused.
    CreateMutexA(nullptr, TRUE, szWindowTitle);
    const DWORD dwMutexError = GetLastError();
    if (dwMutexError == ERROR_ALREADY_EXISTS || dwMutexError == ERROR_ACCESS_DENIED)
        return Refuse("Dravik driver is already running", "Error");

    hInst = hInstance;
    RegisterMainClass(szClassName);

    // Both are tried before either is looked at.
    const ControlLibrary Libraries[2] = {LoadControlLibrary("vorn_cc.dll"),
                                         LoadControlLibrary("vorn_cc09.dll")};
    if (Libraries[0].hModule == nullptr || Libraries[1].hModule == nullptr)
        return RefuseControlLibraries(Libraries);

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
        // The keys go to the control with the focus (the debug list); the commands to the main window.
        if ((msg.hwnd == hWnd || IsChild(hWnd, msg.hwnd)) && TranslateAcceleratorA(hWnd, hAccelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
