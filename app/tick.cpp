#include "app/tick.h"

#include "app/line_recording.h"
#include "app/port_watch.h"
#include "app/receive.h"
#include "protocol/link.h"

void RunTick(HWND hWnd) {
    OnLinkTimer();
    WatchReceiveQueue();
    WatchDevicePort(hWnd);
    WatchLineRecording(hWnd);
}
