#include "app/receive.h"

#include "app/tick.h"
#include "protocol/assembly.h"
#include "protocol/external.h"
#include "protocol/publish.h"
#include "serial/device_port.h"

namespace {

// The window's own notification carries this in wParam; the reader's carry 0.
constexpr WPARAM CONTINUATION = 1;

bool bContinuing = false; // a continuation is on its way: the reader's notifications wait for it
bool bWorking = false;    // a notification's work is under way
bool bTimerSet = false;   // the continuation waits on RECEIVE_TIMER_ID
int iLastDropped = 0;
int iEpisodeStart = -1; // dropped count when the current overflow episode began; -1: none

void Continue(HWND hWnd) {
    bContinuing = true;
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
    if (uWaiting == 0 &&
        PostMessageA(hWnd, WM_COMMNOTIFY, CONTINUATION, reinterpret_cast<LPARAM>(&DevicePort)))
        return;
    bTimerSet = SetTimer(hWnd, RECEIVE_TIMER_ID, USER_TIMER_MINIMUM, nullptr) != 0;
}

void Work(HWND hWnd) {
    // Exchanges with the infodriver let sent messages in; none of them may start this again.
    if (bWorking)
        return;
    bWorking = true;
    bContinuing = false;
    // Each call is a round trip to the window system, a notification's worth under Wine.
    if (bTimerSet) {
        KillTimer(hWnd, RECEIVE_TIMER_ID);
        bTimerSet = false;
    }
    ReceiveAndPublish(&DevicePort);
    bWorking = false;
    if (WorkWaiting() && IsWindow(hWnd))
        Continue(hWnd);
}

} // namespace

void OnReceiveNotify(HWND hWnd, WPARAM wParam, LPARAM lParam) {
    // The reader thread and this window post it; one sent from another thread is nobody's.
    if (InSendMessage() || reinterpret_cast<SerialPort*>(lParam) != &DevicePort)
        return;
    if (bContinuing && wParam != CONTINUATION)
        return;
    Work(hWnd);
}

void OnReceiveTimer(HWND hWnd) {
    // Timers are not served in a fixed order everywhere: a continuation timer that always wins
    // must not hold back the one-second tick.
    if (TickOverdue())
        OnTick(hWnd);
    Work(hWnd);
}

void ReceiveMeanwhile() {
    if (bWorking || !DeviceInputWaiting())
        return;
    bWorking = true;
    ReceiveFromPort(&DevicePort);
    bWorking = false;
}

void ContinueWork(HWND hWnd) {
    if (!bContinuing && !bWorking && WorkWaiting() && IsWindow(hWnd))
        Continue(hWnd);
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
