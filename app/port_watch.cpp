#include "app/port_watch.h"

#include "app/config.h"
#include "app/mainwnd.h"
#include "protocol/external.h"
#include "serial/device_port.h"

namespace {
int iTicksToRetry = PORT_RETRY_TICKS;
} // namespace

void WatchDevicePort(HWND hWnd) {
    if (DevicePort.IsOpen()) {
        if (!DevicePort.ReadsFailing())
            return;
        DebugLine("Serial port %d failing - closed, trying again every %d s", iPort, PORT_RETRY_TICKS);
        LogLine("Serial port %d failing - closed, trying again every %d s", iPort, PORT_RETRY_TICKS);
        DevicePort.Close();
        iTicksToRetry = PORT_RETRY_TICKS;
        return;
    }
    if (--iTicksToRetry > 0)
        return;
    iTicksToRetry = PORT_RETRY_TICKS;
    // A failed attempt says nothing: the port's absence was reported when it began.
    if (DevicePort.Open(iPort) != 1)
        return;
    DevicePort.SetNotifyWindow(hWnd, PORT_READ_SIZE);
    DebugLine("Serial port %d open again", iPort);
    LogLine("Serial port %d open again", iPort);
}
