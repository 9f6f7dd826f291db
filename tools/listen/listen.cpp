// listen.exe <infodriver number> <COM port> [speed] [--extensions] [--seconds N]
// The driver's receive road without its window: the COM port's reader thread, WM_COMMNOTIFY to a
// hidden window, the protocol core, and the real infodriver client. For demonstrations and for
// watching a device on site before the driver is installed. Prints a line a second while bytes
// arrive, and the totals at the end.
#include "app/config.h"
#include "app/diagnostics.h"
#include "app/foreign_timer.h"
#include "app/panel.h"
#include "app/mainwnd.h"
#include "app/title.h"
#include "app/work_window.h"
#include "infodriver/callback.h"
#include "infodriver/client.h"
#include "protocol/assembly.h"
#include "protocol/settings.h"
#include "resources/resource.h"
#include "serial/device_port.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int READ_SIZE = 16;
constexpr int CONNECT_ATTEMPTS = 50; // 5 s for an infodriver that is still starting

int iSecondsLeft = -1; // -1: until the infodriver goes or the window is closed
int iLastRxCount = 0;
int iLastTx = 0;

// The debug list's lines since the last look, then an empty list.
void PrintNewDebugLines() {
    if (hDebugList == nullptr)
        return;
    const int iCount = static_cast<int>(SendMessageA(hDebugList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < iCount; ++i) {
        char szLine[DEBUG_LINE_CHARS + 64] = "";
        if (SendMessageA(hDebugList, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) <
            static_cast<LRESULT>(sizeof szLine))
            SendMessageA(hDebugList, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(szLine));
        std::printf("  debug: %s\n", szLine);
    }
    SendMessageA(hDebugList, LB_RESETCONTENT, 0, 0);
}

// Once a second, beside the driver's own tick.
void PrintProgress(HWND hWnd) {
    PrintNewDebugLines();
    if (iSerialRxCount != iLastRxCount || iInfodriverTx != iLastTx) {
        std::printf("listen: %d messages, %d slot writes\n", iSerialRxCount, iInfodriverTx);
        iLastRxCount = iSerialRxCount;
        iLastTx = iInfodriverTx;
    }
    std::fflush(stdout);
    if (iSecondsLeft > 0 && --iSecondsLeft == 0)
        DestroyWindow(hWnd);
}

constexpr UINT_PTR PROGRESS_TIMER_ID = 3;

LRESULT CALLBACK ListenWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iMessage == WM_TIMER && wParam == PROGRESS_TIMER_ID) {
        PrintProgress(hWnd);
        return 0;
    }
    if (OnWorkMessage(hWnd, iMessage, wParam, lParam))
        return 0;
    switch (iMessage) {
        case WM_DESTROY:
            KillTimer(hWnd, TICK_TIMER_ID);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
    }
}

// A hidden window of the driver's own size, with its status panel (when the control libraries are
// beside the program) and its debug list, titled from the driver's string table.
HWND CreateListenWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ListenWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DravikListen";
    if (RegisterClassA(&wc) == 0)
        return nullptr;
    LoadTitleStrings(wc.hInstance);
    FormatWindowTitle("loading");
    HWND hWnd = CreateWindowA("DravikListen", szWindowTitle, WS_OVERLAPPED, 0, 0, 580, 640, nullptr, nullptr,
                              wc.hInstance, nullptr);
    if (hWnd == nullptr)
        return nullptr;
    LoadLibraryA("vorn_cc.dll");
    LoadLibraryA("vorn_cc09.dll");
    CreateStatusPanel(hWnd);
    CreateDebugList(hWnd, PanelHeight());
    return hWnd;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: listen.exe <infodriver number> <COM port> [speed] [--extensions] [--seconds N]\n");
    return 2;
}

} // namespace
int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    int iNumber = std::atoi(argv[1]);
    // The configured port, as the driver's settings would give it: the tick opens it again if
    // it goes.
    iPort = std::atoi(argv[2]);
    int iSpeed = 38400;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--extensions") == 0)
            bExtensions = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            iSecondsLeft = std::atoi(argv[++i]);
        else
            iSpeed = std::atoi(argv[i]);
    }
    if (iNumber < 1 || iNumber > 999 || iPort < 1)
        return Usage();

    iDeviceNumber = iNumber;
    Infodriver.SetCallback(InfodriverCallback);
    int iStatus = 0;
    for (int i = 0; i < CONNECT_ATTEMPTS && iStatus != IDSTAT_CONNECTED; ++i) {
        iStatus = Infodriver.Connect(iNumber, nullptr, 0, 0, 0, 0);
        if (iStatus != IDSTAT_CONNECTED)
            Sleep(100);
    }
    if (iStatus != IDSTAT_CONNECTED) {
        std::fprintf(stderr, "listen: no infodriver %d answered (status %d)\n", iNumber, iStatus);
        return 1;
    }
    Infodriver.SetCounters(&iInfodriverTx, &iInfodriverRx);

    hMainWnd = CreateListenWindow();
    if (hMainWnd == nullptr)
        return 1;
    DevicePort.SetSpeed(iSpeed);
    int iOpen = DevicePort.Open(iPort);
    if (iOpen != 1) {
        std::fprintf(stderr, "listen: serial port %d is not available (%d)\n", iPort, iOpen);
        return 1;
    }
    DevicePort.SetNotifyWindow(hMainWnd, READ_SIZE);
    StartWork(hMainWnd);
    SetTimer(hMainWnd, PROGRESS_TIMER_ID, TICK_PERIOD_MS, nullptr);
    std::printf("listen: COM%d at %d bit/s into infodriver %d (%s)\n", iPort, iSpeed, iNumber, szWindowTitle);
    std::fflush(stdout);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsForeignTimer(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DevicePort.Close();
    PrintNewDebugLines();
    std::printf("listen: %d messages, %d slot writes, %d slot changes\n", iSerialRxCount, iInfodriverTx,
                iInfodriverRx);
    return 0;
}
