#pragma once
// The main window's one work loop: everything its thread does besides painting and the operator's
// own input. The work is the receive (framing and publishing what the line brought), the
// one-second tick, a look at the device port when the system says its ports changed, and the
// messages that had to wait for an exchange with the infodriver to end.
// Whichever message loop dispatches the window's messages (the main loop, a dialog's, a menu's),
// its notifications, continuations and timers come here as events, and the loop decides what runs
// now, what waits, and what is armed to run it later.
//
// The rules, each kept by one function below:
// - Nothing runs inside an exchange with the infodriver, and work never runs inside work: what
//   comes meanwhile is queued and runs once the outer work has ended.
// - The receive and the tick are queued at most once however often they are asked for; deferred
//   messages are queued in order, all of them (up to a bound no operator reaches).
// - While anything waits, something is armed that will run it: the newest continuation (a posted
//   message), the continuation timer (when input, painting or a timer waits, so that the work
//   does not jump ahead of them), or at worst the next tick, which also runs whatever waits.
// - The tick runs at least once a second however busy the receive keeps the window: posted
//   continuations are taken before any timer, so a wake runs an overdue tick itself.
//
// No <windows.h>: the decisions build and are explored natively. The window's side (app/
// work_window.cpp) turns its messages into events and the loop's requests into PostMessage and
// SetTimer, through the host's function pointers.
#include <array>
#include <cstdint>

constexpr unsigned long WORK_TICK_PERIOD_MS = 1000;
// A tick less than this after the last is left out: any process may post the window a WM_TIMER
// with the tick's id, and five of them in a row would fail a good link.
constexpr unsigned long WORK_TICK_SPACING_MS = WORK_TICK_PERIOD_MS - WORK_TICK_PERIOD_MS / 10;
// Deferred messages waiting at most: far beyond anything an operator does inside one exchange.
constexpr int WORK_DEFERRED_MAX = 256;

// A window message kept until the exchange under way has ended.
struct DeferredMessage {
    unsigned iMessage;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

enum class WorkEvent : unsigned char {
    ReaderNotice,      // the reader thread's notification: bytes wait in the receive queue
    Continuation,      // one of the loop's own posted continuations, by its number
    ContinuationTimer, // the continuation timer
    Tick,              // the one-second timer
    ExchangeBegins,    // a send to the infodriver, which handles what the infodriver sends meanwhile
    ExchangeEnds,
    PortHint, // the system's ports changed: the device port is looked at soon, not in the hint's send
};

// What the loop asks of the window, as plain function pointers.
struct WorkHost {
    unsigned long (*pfnNow)();   // a millisecond clock
    bool (*pfnReceiveWaiting)(); // bytes in the receive queue, or framing or publishing left
    bool (*pfnOthersWaiting)();  // input, painting or a timer waits for the message loop
    void (*pfnRunTick)();        // the tick's work
    void (*pfnRunPortCheck)();   // a look at the device port: gone, or back
    void (*pfnRunReceive)();     // one slice of the receive's work
    void (*pfnRunDeferred)(const DeferredMessage& Message);
    bool (*pfnPost)(unsigned uNumber); // posts a continuation; false when it could not be posted
    void (*pfnSetTimer)(bool bSet);    // the continuation timer on or off
};

// The loop's whole state. The user-interface thread alone touches it.
struct WorkLoop {
    // Where the thread is, set by the events and the jobs themselves.
    int iExchanges;  // exchanges with the infodriver under way, outermost first
    bool bWorking;   // the receive or the tick runs further out on the thread
    bool bReplaying; // a deferred message is handled (a modal loop it opens may run work)
    bool bStarted;   // the first event has set ulLastTick
    // What waits: the queue of deferred work.
    bool bReceiveDue;   // the receive was asked for while it could not run
    bool bTickDue;      // the tick came while it could not run
    bool bPortCheckDue; // a hint came
    std::array<DeferredMessage, WORK_DEFERRED_MAX> Deferred;
    int iDeferredFirst;
    int iDeferredCount;
    // What is armed.
    unsigned uNewest; // number of the newest continuation posted (never 0)
    bool bOnItsWay;   // uNewest is posted and has not come
    bool bTimerSet;   // the continuation timer runs
    // The tick: when it last ran (or when the loop first looked).
    unsigned long ulLastTick;
    bool bTickRan;
};

// Everything at zero: nothing waits, nothing is armed.
void WorkLoopReset(WorkLoop& Loop);
// One event, handled where it comes (inside an exchange, inside work, or at the top), with what
// it makes due run now when it may. uNumber: a continuation's number.
void WorkLoopEvent(WorkLoop& Loop, const WorkHost& Host, WorkEvent eEvent, unsigned uNumber = 0);
// A message that would open a loop, or run a command, must wait while an exchange or work is
// under way.
bool WorkLoopMustDefer(const WorkLoop& Loop);
// Queues the message to be handled once the work under way has ended; false when the queue is
// full, and the message is dropped.
bool WorkLoopDefer(WorkLoop& Loop, const WorkHost& Host, const DeferredMessage& Message);
// Work is queued or waits: something must be armed for it.
bool WorkLoopHasDue(const WorkLoop& Loop, const WorkHost& Host);
