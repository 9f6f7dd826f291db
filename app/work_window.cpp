#include "app/work_window.h"

#include "app/port_watch.h"
#include "app/receive.h"
#include "app/tick.h"
#include "app/work_loop.h"
#include "protocol/external.h"
#include "protocol/publish.h"
#include "serial/device_port.h"

#include <array>
#include <climits>

namespace {

// While work continues, the window is painted this often at most: painting waits behind every
// posted message, and a catch-up would otherwise either never paint or wait for it each time.
constexpr unsigned long PAINT_PERIOD_MS = 200;

// The messages whose handling waits while an exchange or work is under way: commands (the About
// box, the menu, a move each run a modal loop, which would hold the exchange and with it the
// receive and the tick until the operator closed it), and those whose default handling opens such
// a loop itself.
constexpr std::array<UINT, 7> HeldMessages = {
    WM_COMMAND,         WM_SYSCOMMAND,    WM_CONTEXTMENU, WM_NCLBUTTONDOWN,
    WM_NCLBUTTONDBLCLK, WM_NCRBUTTONDOWN, WM_NCRBUTTONUP,
};

// User-interface thread only, all of them.
WorkLoop Loop{};
HWND hWorkWindow = nullptr;               // the window whose loop this is; its messages brought the events
unsigned long ulPainted = 0;              // when the loop last had the window painted
const DeferredMessage* pReplay = nullptr; // the deferred message being handled, let through once

bool Posts(unsigned uNumber) {
    return hWorkWindow != nullptr &&
           PostMessageA(hWorkWindow, WM_COMMNOTIFY, uNumber, reinterpret_cast<LPARAM>(&DevicePort)) != 0;
}

void SetsTimer(bool bSet) {
    if (hWorkWindow == nullptr)
        return;
    if (bSet)
        SetTimer(hWorkWindow, CONTINUATION_TIMER_ID, USER_TIMER_MINIMUM, nullptr);
    else
        KillTimer(hWorkWindow, CONTINUATION_TIMER_ID);
}

bool ReceiveWaits() {
    return WorkWaiting() || DeviceInputWaiting();
}

// Input and timers wait for the message loop; painting is done here instead, at most every
// PAINT_PERIOD_MS, so that it never holds the work back.
bool OthersWait() {
    constexpr UINT WAITING = QS_INPUT | QS_PAINT | QS_TIMER;
    const UINT uWaiting = HIWORD(GetQueueStatus(WAITING));
    const unsigned long ulNow = TickCountMs();
    if ((uWaiting & QS_PAINT) != 0 && hWorkWindow != nullptr && ulNow - ulPainted >= PAINT_PERIOD_MS) {
        ulPainted = ulNow;
        RedrawWindow(hWorkWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    return (uWaiting & (QS_INPUT | QS_TIMER)) != 0;
}

void Ticks() {
    RunTick(hWorkWindow);
}

void ChecksPort() {
    CheckDevicePortNow(hWorkWindow);
}

void Receives() {
    RunReceive();
}

// Handled as it would have been, through the window procedure, which lets it through once.
void Replays(const DeferredMessage& Message) {
    if (hWorkWindow == nullptr || !IsWindow(hWorkWindow))
        return;
    pReplay = &Message;
    SendMessageA(hWorkWindow, Message.iMessage, Message.wParam, Message.lParam);
    pReplay = nullptr;
}

constexpr WorkHost Host{TickCountMs, ReceiveWaits, OthersWait, Ticks,    ChecksPort,
                        Receives,    Replays,      Posts,      SetsTimer};

void Event(WorkEvent eEvent, unsigned uNumber = 0) {
    WorkLoopEvent(Loop, Host, eEvent, uNumber);
}

bool IsHeld(UINT iMessage) {
    for (UINT iHeld : HeldMessages)
        if (iHeld == iMessage)
            return true;
    return false;
}

// A press on the caption that no button made: the system's own presses go through the thread's
// input, which sets the button's state as the message is taken.
bool PressedByNobody(UINT iMessage) {
    if (iMessage != WM_NCLBUTTONDOWN && iMessage != WM_NCLBUTTONDBLCLK && iMessage != WM_NCRBUTTONDOWN)
        return false;
    const bool bSwapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    const bool bLeft = iMessage != WM_NCRBUTTONDOWN;
    const int iKey = bLeft != bSwapped ? VK_LBUTTON : VK_RBUTTON;
    return (GetKeyState(iKey) & 0x8000) == 0;
}

} // namespace

bool OnWorkMessage(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iMessage == WM_COMMNOTIFY) {
        // The reader thread and this loop post it; one naming another object is nobody's.
        if (reinterpret_cast<SerialPort*>(lParam) != &DevicePort)
            return true;
        hWorkWindow = hWnd;
        if (wParam == 0 || wParam > UINT_MAX)
            Event(WorkEvent::ReaderNotice);
        else
            Event(WorkEvent::Continuation, static_cast<unsigned>(wParam));
        return true;
    }
    if (iMessage == WM_DEVICECHANGE) {
        hWorkWindow = hWnd;
        Event(WorkEvent::PortHint);
        return true;
    }
    if (iMessage != WM_TIMER || (wParam != TICK_TIMER_ID && wParam != CONTINUATION_TIMER_ID))
        return false;
    hWorkWindow = hWnd;
    Event(wParam == TICK_TIMER_ID ? WorkEvent::Tick : WorkEvent::ContinuationTimer);
    return true;
}

bool HoldMessage(HWND, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (!IsHeld(iMessage))
        return false;
    if (pReplay != nullptr && pReplay->iMessage == iMessage && pReplay->wParam == wParam &&
        pReplay->lParam == lParam) {
        pReplay = nullptr;
        return PressedByNobody(iMessage);
    }
    if (!WorkLoopMustDefer(Loop))
        return PressedByNobody(iMessage);
    if (!WorkLoopDefer(Loop, Host, DeferredMessage{iMessage, wParam, lParam}))
        DebugLine("Message 0x%04X dropped - %d messages wait for the infodriver already", iMessage,
                  WORK_DEFERRED_MAX);
    return true;
}

void NoteExchange(bool bBegins) {
    Event(bBegins ? WorkEvent::ExchangeBegins : WorkEvent::ExchangeEnds);
}

void StartWork(HWND hWnd) {
    // A new window: nothing of an earlier one's is on its way to it.
    WorkLoopReset(Loop);
    hWorkWindow = hWnd;
    SetTimer(hWnd, TICK_TIMER_ID, TICK_PERIOD_MS, nullptr);
}
