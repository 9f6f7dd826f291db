#include "app/tick.h"

#include "app/line_recording.h"
#include "app/port_watch.h"
#include "app/receive.h"
#include "protocol/external.h"
#include "protocol/link.h"

namespace {
// Half a period late counts as overdue; the first tick is measured from the first look.
constexpr unsigned long OVERDUE_MS = TICK_PERIOD_MS + TICK_PERIOD_MS / 2;
// Any process may post the window a WM_TIMER with the tick's id, and five of them in a row would
// fail a good link. The system's own come a period apart, or closer only after a late one: that
// one tick is left out, and the next comes a period later.
constexpr unsigned long SPACING_MS = TICK_PERIOD_MS - TICK_PERIOD_MS / 10;
unsigned long ulLastTick = 0; // the last tick, or TickOverdue's first look before any
bool bTicked = false;         // ulLastTick is set
bool bTickRan = false;
bool bTickDeferred = false; // a tick came while work was under way
} // namespace

void OnTick(HWND hWnd) {
    if (WorkUnderWay()) {
        bTickDeferred = true;
        return;
    }
    bTickDeferred = false;
    const unsigned long ulNow = TickCountMs();
    if (bTickRan && ulNow - ulLastTick < SPACING_MS)
        return;
    ulLastTick = ulNow;
    bTicked = bTickRan = true;
    OnLinkTimer();
    WatchReceiveOverflow();
    WatchDevicePort(hWnd);
    WatchLineRecording(hWnd);
    RearmWork(hWnd);
}

void RunDeferredTick(HWND hWnd) {
    if (bTickDeferred && !WorkUnderWay())
        OnTick(hWnd);
}

bool TickOverdue() {
    if (!bTicked) {
        ulLastTick = TickCountMs();
        bTicked = true;
    }
    return TickCountMs() - ulLastTick >= OVERDUE_MS;
}
