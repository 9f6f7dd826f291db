#include "app/port_watch.h"

#include "app/config.h"
#include "app/mainwnd.h"
#include "protocol/external.h"
#include "serial/device_port.h"
#include "serial/port_reader.h"

#include <dbt.h>

namespace {

// The device interface class of COM ports: its arrivals and removals are announced to the window.
constexpr GUID COM_PORT_INTERFACE = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// User-interface thread only, all of them; they start again with each new main window.
HWND hWatched = nullptr; // the window of the ticks so far; hints come only after its first
HDEVNOTIFY hNotification = nullptr;
int iTicksToRetry = PORT_RETRY_TICKS;
bool bInUseSaid = false; // "in use by another program" said, until an open gives another answer

void Register(HWND hWnd) {
    if (hNotification)
        UnregisterDeviceNotification(hNotification);
    DEV_BROADCAST_DEVICEINTERFACE_A Filter{};
    Filter.dbcc_size = sizeof Filter;
    Filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    Filter.dbcc_classguid = COM_PORT_INTERFACE;
    // Without it the 5 s retry still brings the port back.
    hNotification = RegisterDeviceNotificationA(hWnd, &Filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// A failed open's -2, at start or at a retry: once until an open answers otherwise.
void SayIfInUse() {
    if (DevicePort.GetIndex() != -2) {
        bInUseSaid = false;
        return;
    }
    if (bInUseSaid)
        return;
    bInUseSaid = true;
    DebugLine("Serial port %d is in use by another program", iPort);
    LogLine("Serial port %d is in use by another program", iPort);
}

void ClosePort() {
    DevicePort.Close();
    iTicksToRetry = PORT_RETRY_TICKS;
    if (const int iLost = DevicePort.TakeBytesLostAtClose(); iLost > 0) {
        DebugLine("Serial port %d closed - %d received bytes lost", iPort, iLost);
        LogLine("Serial port %d closed - %d received bytes lost", iPort, iLost);
    }
    // What the closed port's queue holds is framed by the work loop's receive, which runs after
    // this look at the port whenever bytes wait.
}

void TryOpen(HWND hWnd) {
    iTicksToRetry = PORT_RETRY_TICKS;
    const int iResult = DevicePort.Open(iPort);
    SayIfInUse();
    // A failed attempt says nothing more: the port's absence was reported when it began.
    if (iResult != 1)
        return;
    DevicePort.SetNotifyWindow(hWnd, PORT_READ_SIZE);
    DebugLine("Serial port %d is back", iPort);
    LogLine("Serial port %d is back", iPort);
}

// bNow: a hint that the system's COM ports changed; a port that is not open is tried at once.
void CheckPort(HWND hWnd, bool bNow) {
    if (DevicePort.IsOpen()) {
        // The handle first: the read of a device that has gone may hang and never fail.
        if (!DevicePort.Responds()) {
            DebugLine("Serial port %d removed", iPort);
            LogLine("Serial port %d removed", iPort);
        } else if (DevicePort.ReadsFailing()) {
            DebugLine("Serial port %d failing - closed, trying again every %d s", iPort, PORT_RETRY_TICKS);
            LogLine("Serial port %d failing - closed, trying again every %d s", iPort, PORT_RETRY_TICKS);
        } else {
            return;
        }
        ClosePort();
        return;
    }
    SayIfInUse();
    if (!bNow && --iTicksToRetry > 0)
        return;
    TryOpen(hWnd);
}

} // namespace

void WatchDevicePort(HWND hWnd) {
    if (hWnd != hWatched) {
        hWatched = hWnd;
        iTicksToRetry = PORT_RETRY_TICKS;
        bInUseSaid = false;
        Register(hWnd);
    }
    CheckPort(hWnd, false);
}

void CheckDevicePortNow(HWND hWnd) {
    // Before the first tick the window's start-up has not settled the port yet.
    if (hWnd == hWatched && IsWindow(hWnd))
        CheckPort(hWnd, true);
}
