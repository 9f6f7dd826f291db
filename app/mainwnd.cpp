#include "app/mainwnd.h"

#include "app/config.h"
#include "app/diagnostics.h"
#include "app/line_recording.h"
#include "app/menu.h"
#include "app/panel.h"
#include "app/title.h"
#include "app/work_window.h"
#include "infodriver/callback.h"
#include "infodriver/client.h"
#include "protocol/settings.h"
#include "resources/resource.h"
#include "serial/device_port.h"

#include <cstdio>

HINSTANCE hInst = nullptr;
HWND hMainWnd = nullptr;
int panelHeight = 0;

namespace {

bool bClosing = false; // CloseMainWindow has begun the window's destruction

// The main window exists: a creation message now is not this program's.
bool Created() {
    return hMainWnd != nullptr && IsWindow(hMainWnd);
}

// The icon asked for as the small one is not in the resources: the system makes one from icon 1.
constexpr int SMALL_ICON_ID = 108;

// Step 9: 5 refuses the window, anything else but 15 is noted and the driver runs on.
bool ConnectInfodriver(HWND hWnd) {
    const int iResult = Infodriver.Connect(iDeviceNumber, nullptr, 0, 0, 0, 0);
    if (iResult == IDSTAT_NO_WINDOW) {
        DebugLine("Connect failed to infodriver %d", iDeviceNumber);
        LogLine("Connect failed to infodriver %d", iDeviceNumber);
        char szText[128];
        std::snprintf(szText, sizeof szText, "VORN Dravik Driver Error\n\nCannot hook into InfoDriver %d",
                      iDeviceNumber);
        MessageBoxA(hWnd, szText, "Driver Error", MB_OK | MB_ICONERROR);
        return false;
    }
    if (iResult == IDSTAT_CONNECTED) {
        DebugLine("Connected OK to infodriver %d on WS_%03d", iDeviceNumber, iWorkstation);
        LogLine("Connected OK to infodriver %d on WS_%03d", iDeviceNumber, iWorkstation);
    } else {
        DebugLine("Other Error - code %d", Infodriver.iStatus);
        LogLine("Other error code %d while connecting to infodriver %d", Infodriver.iStatus, iDeviceNumber);
    }
    return true;
}

// Steps 11 and 12: a port that fails to open leaves the driver running without serial input.
void OpenDevicePort() {
    DebugLine("Opening serial port %d, speed %ld", iPort, lSpeed);
    DevicePort.SetSpeed(static_cast<int>(lSpeed));
    DevicePort.SetDataBits(iDataBits);
    DevicePort.SetStopBits(iStopBitsCode);
    DevicePort.SetParity(iParityCode);
    const int iResult = DevicePort.Open(iPort);
    if (iResult == -1) {
        DebugLine("Serial port %d is not available", iPort);
        LogLine("Serial port %d is not available", iPort);
    } else if (iResult == 1) {
        DebugLine("Open serial port %d success", iPort);
        LogLine("Open serial port %d success", iPort);
    } else {
        DebugLine("Serial port %d open returned code 0", iPort);
    }
}

LRESULT OnCreate(HWND hWnd) {
    bClosing = false;
    hMainWnd = hWnd;
    CreateStatusPanel(hWnd);
    panelHeight = PanelHeight();
    CreateDebugList(hWnd, panelHeight);
    LoadConfiguration();
    MoveWindow(hWnd, 0, 0, MAIN_WIDTH, MainWindowHeight(hWnd, iDebugMode != 0), TRUE);
    SetStartMenuMarks(hWnd);
    Infodriver.SetCallback(InfodriverCallback);
    if (!ConnectInfodriver(hWnd)) {
        bClosing = true; // the refused window is destroyed by the system
        return -1;
    }
    Infodriver.SetCounters(&iInfodriverTx, &iInfodriverRx);
    OpenDevicePort();
    DevicePort.SetNotifyWindow(hWnd, PORT_READ_SIZE);
    StartWork(hWnd);
    return 0;
}

// At log-off or shutdown the system ends the process once WM_ENDSESSION has been answered, with
// no quit message and no static destructor: what the end does happens here, in its order.
// The system gives it 5 s in all: a stalled infodriver is not waited for.
void EndForSession() {
    CloseMainWindow(); // "Driver closing"
    DevicePort.Close();
    Infodriver.Detach(SESSION_DETACH_MS);
}

} // namespace

int MainWindowHeight(HWND hWnd, bool bFull) {
    // The frame as the system draws this window: its own style, with its menu bar.
    RECT rc{0, 0, MAIN_WIDTH, panelHeight - 2};
    AdjustWindowRectEx(&rc, static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE)), GetMenu(hWnd) != nullptr,
                       static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_EXSTYLE)));
    const int iPanelOnly = rc.bottom - rc.top;
    return bFull && iPanelOnly < MAIN_FULL_HEIGHT ? MAIN_FULL_HEIGHT : iPanelOnly;
}

void CloseMainWindow() {
    if (hMainWnd == nullptr)
        return;
    bClosing = true;
    DestroyWindow(hMainWnd);
}

void RegisterMainClass(const char* pszClassName) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = hInst;
    wc.hIcon = LoadIconA(hInst, MAKEINTRESOURCEA(IDI_DRAVIK));
    wc.hIconSm = LoadIconA(hInst, MAKEINTRESOURCEA(SMALL_ICON_ID));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = pszClassName;
    RegisterClassExA(&wc);
}

LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    // Any process may send or post any message here: creation and destruction are taken only when
    // this program began them.
    switch (iMessage) {
        case WM_NCCREATE:
            return Created() ? TRUE : DefWindowProcA(hWnd, iMessage, wParam, lParam);
        case WM_CREATE:
            return Created() ? 0 : OnCreate(hWnd);
        case WM_CLOSE:
            CloseMainWindow();
            return 0;
        case WM_DESTROY:
            // Not InSendMessage(): the infodriver's disconnection closes the window from inside a
            // message the infodriver sent.
            if (!bClosing)
                return 0;
            FinishLineRecording();
            LogLine("Driver closing");
            PostQuitMessage(0);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE)
                EndForSession();
            return 0;
        case WM_NCDESTROY:
            return bClosing ? DefWindowProcA(hWnd, iMessage, wParam, lParam) : 0;
        case WM_COMMNOTIFY:
        case WM_TIMER:
            // Whichever loop dispatches them.
            OnWorkMessage(hWnd, iMessage, wParam, lParam);
            return 0;
        case WM_SIZE:
            return 0;
        case WM_DEVICECHANGE:
            OnWorkMessage(hWnd, iMessage, wParam, lParam);
            return TRUE;
        case WM_COMMAND:
            if (HoldMessage(hWnd, iMessage, wParam, lParam) || OnMenuCommand(hWnd, LOWORD(wParam)))
                return 0;
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
        default:
            if (HoldMessage(hWnd, iMessage, wParam, lParam))
                return 0;
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
    }
}
