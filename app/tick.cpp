#include "app/tick.h"

#include "app/line_recording.h"
#include "app/port_watch.h"
#include "app/receive.h"
#include "protocol/external.h"
#include "protocol/link.h"

namespace {
// Half a period late counts as overdue; the first tick is measured from the first look.
constexpr unsigned long OVERDUE_MS = TICK_PERIOD_MS + TICK_PERIOD_MS / 2;
unsigned long ulLastTick = 0;
bool bTicked = false;
} // namespace

void OnTick(HWND hWnd) {
    ulLastTick = TickCountMs();
    bTicked = true;
    OnLinkTimer();
    WatchReceiveOverflow();
    WatchDevicePort(hWnd);
    WatchLineRecording(hWnd);
    ContinueWork(hWnd);
}

bool TickOverdue() {
    if (!bTicked) {
        ulLastTick = TickCountMs();
        bTicked = true;
    }
    return TickCountMs() - ulLastTick >= OVERDUE_MS;
}
