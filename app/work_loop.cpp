#include "app/work_loop.h"

namespace {

// Outside every exchange and every piece of work: what is due may run here.
bool AtTop(const WorkLoop& Loop) {
    return Loop.iExchanges == 0 && !Loop.bWorking;
}

// While work waits and nothing will run it: a continuation, which goes ahead of everything but
// sent messages, or the timer when input, painting or a timer waits, since a continuation would
// go ahead of them too and a busy line would starve the operator.
void Arm(WorkLoop& Loop, const WorkHost& Host) {
    if (!AtTop(Loop) || Loop.bOnItsWay || Loop.bTimerSet || !WorkLoopHasDue(Loop, Host))
        return;
    if (!Host.pfnOthersWaiting()) {
        const unsigned uNext = Loop.uNewest + 1 != 0 ? Loop.uNewest + 1 : 1;
        if (Host.pfnPost(uNext)) {
            Loop.uNewest = uNext;
            Loop.bOnItsWay = true;
            return;
        }
    }
    Host.pfnSetTimer(true);
    Loop.bTimerSet = true;
}

void RunWork(WorkLoop& Loop, void (*pfnJob)()) {
    Loop.bWorking = true;
    pfnJob();
    Loop.bWorking = false;
}

// A tick that came, or one the system's timer has not brought for a period: posted messages go
// ahead of timers, so under a busy line the timer may not come at all.
void RunTickIfDue(WorkLoop& Loop, const WorkHost& Host) {
    const unsigned long ulNow = Host.pfnNow();
    if (!Loop.bTickDue && ulNow - Loop.ulLastTick < WORK_TICK_PERIOD_MS)
        return;
    Loop.bTickDue = false;
    if (Loop.bTickRan && ulNow - Loop.ulLastTick < WORK_TICK_SPACING_MS)
        return;
    Loop.ulLastTick = ulNow;
    Loop.bTickRan = true;
    // A continuation that a loop took from the queue without dispatching it never comes: once a
    // tick, the one on its way is given up on, and a new one armed after the tick. Should it come
    // after all, it is late, and no more than a reader's notice.
    Loop.bOnItsWay = false;
    RunWork(Loop, Host.pfnRunTick);
}

// In the order they came. A modal loop that one of them opens runs the tick and the receive as
// usual, but not the next message: that waits until this one has ended.
void RunDeferred(WorkLoop& Loop, const WorkHost& Host) {
    if (Loop.bReplaying)
        return;
    while (Loop.iDeferredCount > 0) {
        const DeferredMessage Message = Loop.Deferred[static_cast<std::size_t>(Loop.iDeferredFirst)];
        Loop.iDeferredFirst = (Loop.iDeferredFirst + 1) % WORK_DEFERRED_MAX;
        --Loop.iDeferredCount;
        Loop.bReplaying = true;
        Host.pfnRunDeferred(Message);
        Loop.bReplaying = false;
    }
}

// At the top: the tick when due, a look at the port when hinted, the deferred messages, then one
// slice of the receive; what is left is armed.
void RunDue(WorkLoop& Loop, const WorkHost& Host) {
    if (Loop.bTimerSet) {
        Host.pfnSetTimer(false);
        Loop.bTimerSet = false;
    }
    RunTickIfDue(Loop, Host);
    if (Loop.bPortCheckDue) {
        Loop.bPortCheckDue = false;
        RunWork(Loop, Host.pfnRunPortCheck);
    }
    RunDeferred(Loop, Host);
    if (AtTop(Loop) && (Loop.bReceiveDue || Host.pfnReceiveWaiting())) {
        Loop.bReceiveDue = false;
        RunWork(Loop, Host.pfnRunReceive);
    }
    Arm(Loop, Host);
}

} // namespace

void WorkLoopReset(WorkLoop& Loop) {
    Loop = WorkLoop{};
}

void WorkLoopEvent(WorkLoop& Loop, const WorkHost& Host, WorkEvent eEvent, unsigned uNumber) {
    if (!Loop.bStarted) {
        Loop.bStarted = true;
        Loop.ulLastTick = Host.pfnNow();
    }
    switch (eEvent) {
        case WorkEvent::ExchangeBegins:
            ++Loop.iExchanges;
            return;
        case WorkEvent::ExchangeEnds:
            if (Loop.iExchanges > 0)
                --Loop.iExchanges;
            // Not run here: the infodriver may be waiting for this very handler to return.
            Arm(Loop, Host);
            return;
        case WorkEvent::PortHint:
            // Nor here: the system waits for the hint's answer, and closing a port that has gone
            // may take seconds.
            Loop.bPortCheckDue = true;
            Arm(Loop, Host);
            return;
        case WorkEvent::Tick:
            Loop.bTickDue = true;
            break;
        case WorkEvent::Continuation:
            if (Loop.bOnItsWay && uNumber == Loop.uNewest) {
                Loop.bOnItsWay = false;
                break;
            }
            // An older one, late: no more than a reader's notice.
            [[fallthrough]];
        case WorkEvent::ReaderNotice:
            Loop.bReceiveDue = true;
            // What is armed runs it, behind the input it waits for.
            if (Loop.bOnItsWay || Loop.bTimerSet)
                return;
            break;
        case WorkEvent::ContinuationTimer:
            break;
    }
    if (AtTop(Loop))
        RunDue(Loop, Host);
}

bool WorkLoopMustDefer(const WorkLoop& Loop) {
    return !AtTop(Loop) || Loop.bReplaying || Loop.iDeferredCount > 0;
}

bool WorkLoopDefer(WorkLoop& Loop, const WorkHost& Host, const DeferredMessage& Message) {
    if (Loop.iDeferredCount == WORK_DEFERRED_MAX)
        return false;
    const int iLast = (Loop.iDeferredFirst + Loop.iDeferredCount) % WORK_DEFERRED_MAX;
    Loop.Deferred[static_cast<std::size_t>(iLast)] = Message;
    ++Loop.iDeferredCount;
    Arm(Loop, Host);
    return true;
}

bool WorkLoopHasDue(const WorkLoop& Loop, const WorkHost& Host) {
    return Loop.bReceiveDue || Loop.bTickDue || Loop.bPortCheckDue ||
           (Loop.iDeferredCount > 0 && !Loop.bReplaying) || Host.pfnReceiveWaiting();
}
