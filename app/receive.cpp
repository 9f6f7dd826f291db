#include "app/receive.h"

#include "app/tick.h"
#include "infodriver/client.h"
#include "protocol/assembly.h"
#include "protocol/external.h"
#include "protocol/publish.h"
#include "serial/device_port.h"

#include <array>

namespace {

// The window's own notifications carry CONTINUATION_BASE + their number in wParam; the reader's
// carry 0. Only the newest continuation is taken for one: an older one that turns up late is no
// more than a reader's.
constexpr WPARAM CONTINUATION_BASE = 1;
constexpr WPARAM CONTINUATION_NUMBERS = 0x10000;
// A continuation not taken within this long is lost (a loop that removed it without dispatching
// it, a post that went nowhere): the tick then does the work itself.
constexpr unsigned long CONTINUATION_LOST_MS = TICK_PERIOD_MS;

// User-interface thread only, all of them.
bool bWorking = false;    // a notification's work is under way
bool bContinuing = false; // a continuation is on its way: the reader's notifications wait for it
WPARAM wContinuation = 0; // the one on its way, when posted
unsigned long ulContinuedAt = 0;
bool bTimerSet = false;       // the continuation waits on RECEIVE_TIMER_ID
bool bNotifyDeferred = false; // a notification came while work was under way
int iLastDropped = 0;
int iEpisodeStart = -1; // dropped count when the current overflow episode began; -1: none

struct DeferredMessage {
    UINT iMessage;
    WPARAM wParam;
    LPARAM lParam;
};
std::array<DeferredMessage, 8> DeferredMessages{};
int iDeferredMessages = 0;

void PostDeferredMessages(HWND hWnd) {
    for (int i = 0; i < iDeferredMessages; ++i) {
        const DeferredMessage& m = DeferredMessages[static_cast<std::size_t>(i)];
        PostMessageA(hWnd, m.iMessage, m.wParam, m.lParam);
    }
    iDeferredMessages = 0;
}

void Continue(HWND hWnd) {
    bContinuing = true;
    ulContinuedAt = TickCountMs();
    // Every counter and tally box a step changes leaves the panel to be painted, and painting waits
    // behind any posted message. Painted here, it need not hold the continuation back.
    constexpr UINT WAITING = QS_INPUT | QS_PAINT | QS_TIMER;
    UINT uWaiting = HIWORD(GetQueueStatus(WAITING));
    if ((uWaiting & QS_PAINT) != 0) {
        RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        uWaiting = HIWORD(GetQueueStatus(WAITING)); // another window of the thread may need it too
    }
    // A posted message is taken before input, painting and timers: it may go ahead only when none
    // of those is waiting, or a device that outpaces publishing would starve them all.
    wContinuation = CONTINUATION_BASE + (wContinuation + 1) % CONTINUATION_NUMBERS;
    if (uWaiting == 0 &&
        PostMessageA(hWnd, WM_COMMNOTIFY, wContinuation, reinterpret_cast<LPARAM>(&DevicePort)))
        return;
    wContinuation = 0;
    bTimerSet = SetTimer(hWnd, RECEIVE_TIMER_ID, USER_TIMER_MINIMUM, nullptr) != 0;
}

void Work(HWND hWnd) {
    bWorking = true;
    bContinuing = false;
    bNotifyDeferred = false;
    // Each call is a round trip to the window system, a notification's worth under Wine.
    if (bTimerSet) {
        KillTimer(hWnd, RECEIVE_TIMER_ID);
        bTimerSet = false;
    }
    ReceiveAndPublish(&DevicePort);
    bWorking = false;
    ContinueWork(hWnd);
}

bool ContinuationOnItsWay() {
    return bContinuing && TickCountMs() - ulContinuedAt < CONTINUATION_LOST_MS;
}

} // namespace

bool WorkUnderWay() {
    return bWorking || ExchangeUnderWay();
}

void OnReceiveNotify(HWND hWnd, WPARAM wParam, LPARAM lParam) {
    // The reader thread and this window post it; one naming another object is nobody's.
    if (reinterpret_cast<SerialPort*>(lParam) != &DevicePort)
        return;
    if (WorkUnderWay()) {
        // A continuation that arrives here has come: what it was for is now deferred work. (The
        // continuation timer comes again by itself.)
        if (wContinuation != 0 && wParam == wContinuation)
            bContinuing = false;
        bNotifyDeferred = true;
        return;
    }
    // The reader's wait for the continuation on its way; a lost one waits for nobody.
    if (ContinuationOnItsWay() && (wContinuation == 0 || wParam != wContinuation))
        return;
    Work(hWnd);
}

void OnReceiveTimer(HWND hWnd) {
    // Timers are not served in a fixed order everywhere: a continuation timer that always wins
    // must not hold back the one-second tick.
    if (TickOverdue())
        OnTick(hWnd);
    if (WorkUnderWay()) {
        bNotifyDeferred = true;
        return;
    }
    Work(hWnd);
}

void DeferUntilWorkEnds(UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iDeferredMessages < static_cast<int>(DeferredMessages.size()))
        DeferredMessages[static_cast<std::size_t>(iDeferredMessages++)] = {iMessage, wParam, lParam};
}

void ContinueWork(HWND hWnd) {
    if (WorkUnderWay() || !IsWindow(hWnd))
        return;
    PostDeferredMessages(hWnd);
    RunDeferredTick(hWnd);
    if (!bContinuing && (bNotifyDeferred || WorkWaiting()))
        Continue(hWnd);
}

void RearmWork(HWND hWnd) {
    if (WorkUnderWay() || !IsWindow(hWnd))
        return;
    if (!ContinuationOnItsWay() && (bNotifyDeferred || WorkWaiting() || DeviceInputWaiting()))
        Work(hWnd);
    else
        ContinueWork(hWnd);
}

void WatchReceiveOverflow() {
    const int iDropped = DevicePort.GetDroppedBytes();
    if (iDropped < iLastDropped) {
        // A new queue (the port was opened again) counts from 0.
        iLastDropped = iDropped < 0 ? 0 : iDropped;
        iEpisodeStart = -1;
        return;
    }
    if (iDropped > iLastDropped && iEpisodeStart < 0) {
        iEpisodeStart = iLastDropped;
        DebugLine("Receive queue full - bytes lost");
        LogLine("Receive queue full - bytes lost");
    } else if (iDropped == iLastDropped && iEpisodeStart >= 0) {
        DebugLine("Receive queue overflow over - %d bytes lost", iDropped - iEpisodeStart);
        LogLine("Receive queue overflow over - %d bytes lost", iDropped - iEpisodeStart);
        iEpisodeStart = -1;
    }
    iLastDropped = iDropped;
}
