// listen.exe <infodriver number> <COM port> [speed] [--extensions] [--seconds N]
// The driver's receive road without its window: the COM port's reader thread, WM_COMMNOTIFY to a
// hidden window, the protocol core, and the real infodriver client. For demonstrations and for
// watching a device on site before the driver is installed. Prints a line a second while bytes
// arrive, and the totals at the end.
#include "app/diagnostics.h"
#include "app/mainwnd.h"
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

constexpr UINT_PTR TICK_TIMER = 1;
constexpr UINT TICK_MS = 1000;
constexpr int READ_SIZE = 16;
constexpr int CONNECT_ATTEMPTS = 50; // 5 s for an infodriver that is still starting

int iSecondsLeft = -1; // -1: until the infodriver goes or the window is closed
int iLastRxCount = 0;
int iLastTx = 0;
int iDebugShown = 0;

void PrintNewDebugLines() {
    // The collector keeps the newest lines; print those added since the last look.
    int iCount = DebugLineCount();
    if (iDebugShown > iCount)
        iDebugShown = 0;
    for (int i = iDebugShown; i < iCount; ++i)
        std::printf("  debug: %s\n", DebugLineAt(i));
    iDebugShown = iCount;
    if (iCount >= DEBUG_LIST_LINES - 50) {
        ClearDebugLines();
        iDebugShown = 0;
    }
}

void OnTick(HWND hWnd) {
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

LRESULT CALLBACK ListenWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    switch (iMessage) {
        case WM_COMMNOTIFY:
            ReceiveFromPort(reinterpret_cast<SerialPort*>(lParam));
            return 0;
        case WM_TIMER:
            if (wParam == TICK_TIMER)
                OnTick(hWnd);
            return 0;
        case WM_DESTROY:
            KillTimer(hWnd, TICK_TIMER);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
    }
}

// The driver's own title, from its string table: "Dravik_001 - loading - V1.3.0".
void FormatTitle(int iNumber, char (&szTitle)[100]) {
    HINSTANCE hInst = GetModuleHandleA(nullptr);
    char szFormat[100] = "", szVersion[100] = "";
    LoadStringA(hInst, IDS_TITLE_FORMAT, szFormat, sizeof szFormat);
    LoadStringA(hInst, IDS_VERSION, szVersion, sizeof szVersion);
    std::snprintf(szTitle, sizeof szTitle, szFormat, iNumber, "loading", szVersion);
}

HWND CreateListenWindow(const char* pszTitle) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ListenWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DravikListen";
    if (RegisterClassA(&wc) == 0)
        return nullptr;
    return CreateWindowA("DravikListen", pszTitle, 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
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
    int iPort = std::atoi(argv[2]);
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

    char szTitle[100];
    FormatTitle(iNumber, szTitle);
    hMainWnd = CreateListenWindow(szTitle);
    if (hMainWnd == nullptr)
        return 1;
    DevicePort.SetSpeed(iSpeed);
    int iOpen = DevicePort.Open(iPort);
    if (iOpen != 1) {
        std::fprintf(stderr, "listen: serial port %d is not available (%d)\n", iPort, iOpen);
        return 1;
    }
    DevicePort.SetNotifyWindow(hMainWnd, READ_SIZE);
    SetTimer(hMainWnd, TICK_TIMER, TICK_MS, nullptr);
    std::printf("listen: COM%d at %d bit/s into infodriver %d (%s)\n", iPort, iSpeed, iNumber, szTitle);
    std::fflush(stdout);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DevicePort.Close();
    PrintNewDebugLines();
    std::printf("listen: %d messages, %d slot writes, %d slot changes\n", iSerialRxCount, iInfodriverTx,
                iInfodriverRx);
    return 0;
}
