// The window's work loop explored exhaustively: every sequence of what the system, the reader and
// other processes can do to the window, up to a depth, against a model of the thread's message
// queue, with the loop's rules checked after every step. Equal states at equal depth left are
// explored once: what follows them is the same.
#include "app/work_loop.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace {

constexpr int EXPLORED_DEPTH = 11;
constexpr unsigned long STEP_MS = 200;   // each top-level step lets this much time pass
constexpr unsigned long RECEIVE_MS = 40; // a slice of the receive
constexpr int POSTED_MAX = 3;            // the model's message queue; a post beyond it fails

// What another process, or the infodriver, sends the window inside an exchange.
enum class Inner : unsigned char { None, Command, Notice, Tick, Continuation };
constexpr std::array<Inner, 5> Inners = {Inner::None, Inner::Command, Inner::Notice, Inner::Tick,
                                         Inner::Continuation};

// How a receive slice goes: an exchange with something sent inside it, and whether work is left.
struct Script {
    Inner eInner;
    bool bMore;
};

enum class Step : unsigned char {
    ReaderPosts, // bytes arrive: the reader posts its notice (once while one waits)
    Dispatch,    // the front of the posted queue is dispatched
    Drop,        // a loop removes the front of the posted queue without dispatching it
    Timer,       // the continuation timer, when nothing is posted and no input waits
    SystemTick,  // the one-second timer, likewise, a period after the last
    InputComes,
    InputHandled, // input is taken once nothing posted is left before it
    TopExchange,  // the infodriver sends an event at the top: the driver's exchange inside it
    TopCommand,   // the operator's command, at the top
};

struct Posted {
    bool bNotice;     // the reader's notice, or a continuation
    unsigned uNumber; // a continuation's
};

// The model: the loop's own state and the world around it.
struct World {
    WorkLoop Loop;
    std::array<Posted, POSTED_MAX> Queue;
    int iQueued;
    bool bInput;
    bool bWorkWaits;
    // A posted message was taken without being dispatched since the last tick: the reader's notice,
    // or the newest continuation. Only the next tick can make up for it.
    bool bDropped;
    unsigned long ulNow;
    unsigned long ulLastSystemTick;
    unsigned long ulLastTickRan;
    int iCommandsIssued;
    int iCommandsRan;
    // Where the thread is, as the model sees it.
    int iExchanges;
    int iJobs;
};

World* pWorld = nullptr;
Script CurrentScript{};
std::string sFault; // the first broken rule of a step

void Fail(const char* pszRule) {
    if (sFault.empty())
        sFault = pszRule;
}

WorkHost Host();

void Event(WorkEvent eEvent, unsigned uNumber = 0) {
    World& w = *pWorld;
    if (eEvent == WorkEvent::ExchangeBegins)
        ++w.iExchanges;
    if (eEvent == WorkEvent::ExchangeEnds)
        --w.iExchanges;
    WorkLoopEvent(w.Loop, Host(), eEvent, uNumber);
}

// A command as the window procedure takes it: run now, or deferred while it may not run.
void Command() {
    World& w = *pWorld;
    const int iId = w.iCommandsIssued++;
    if (WorkLoopMustDefer(w.Loop)) {
        if (!WorkLoopDefer(w.Loop, Host(), DeferredMessage{273, static_cast<std::uintptr_t>(iId), 0}))
            Fail("a deferred command was dropped");
        return;
    }
    if (w.iExchanges > 0 || w.iJobs > 0)
        Fail("a command ran inside an exchange or inside work");
    if (iId != w.iCommandsRan)
        Fail("a command ran out of order");
    ++w.iCommandsRan;
}

bool TakeNewest(World& w);

void Exchange(Inner eInner) {
    Event(WorkEvent::ExchangeBegins);
    switch (eInner) {
        case Inner::None:
            break;
        case Inner::Command:
            Command();
            break;
        case Inner::Notice:
            pWorld->bWorkWaits = true;
            Event(WorkEvent::ReaderNotice);
            break;
        case Inner::Tick:
            Event(WorkEvent::Tick);
            break;
        case Inner::Continuation:
            // A loop nested inside the exchange dispatches the queue's newest continuation.
            if (TakeNewest(*pWorld))
                Event(WorkEvent::Continuation, pWorld->Loop.uNewest);
            break;
    }
    Event(WorkEvent::ExchangeEnds);
}

bool TakeNewest(World& w) {
    for (int i = 0; i < w.iQueued; ++i) {
        const Posted& p = w.Queue[static_cast<std::size_t>(i)];
        if (!p.bNotice && p.uNumber == w.Loop.uNewest) {
            for (int j = i + 1; j < w.iQueued; ++j)
                w.Queue[static_cast<std::size_t>(j - 1)] = w.Queue[static_cast<std::size_t>(j)];
            --w.iQueued;
            return true;
        }
    }
    return false;
}

void BeginJob() {
    if (pWorld->iJobs > 0)
        Fail("work ran inside work");
    if (pWorld->iExchanges > 0)
        Fail("work ran inside an exchange");
    ++pWorld->iJobs;
}

unsigned long Now() {
    return pWorld->ulNow;
}
bool ReceiveWaiting() {
    return pWorld->bWorkWaits;
}
bool OthersWaiting() {
    return pWorld->bInput;
}
void RunTick() {
    BeginJob();
    pWorld->ulLastTickRan = pWorld->ulNow;
    Exchange(Inner::None); // the redundancy poll
    --pWorld->iJobs;
}
void RunReceive() {
    BeginJob();
    if (pWorld->ulNow - pWorld->ulLastTickRan >= WORK_TICK_PERIOD_MS)
        Fail("the receive ran with the tick overdue");
    pWorld->ulNow += RECEIVE_MS;
    Exchange(CurrentScript.eInner);
    pWorld->bWorkWaits = CurrentScript.bMore;
    --pWorld->iJobs;
}
void RunDeferred(const DeferredMessage& Message) {
    World& w = *pWorld;
    if (w.iExchanges > 0 || w.iJobs > 0)
        Fail("a deferred command ran inside an exchange or inside work");
    if (static_cast<int>(Message.wParam) != w.iCommandsRan)
        Fail("a deferred command ran out of order or twice");
    ++w.iCommandsRan;
}
bool Post(unsigned uNumber) {
    World& w = *pWorld;
    if (w.iQueued == POSTED_MAX)
        return false;
    w.Queue[static_cast<std::size_t>(w.iQueued++)] = Posted{false, uNumber};
    return true;
}
void SetTimer(bool) {}

WorkHost Host() {
    return WorkHost{Now, ReceiveWaiting, OthersWaiting, RunTick, RunReceive, RunDeferred, Post, SetTimer};
}

Posted PopFront(World& w) {
    const Posted p = w.Queue[0];
    for (int i = 1; i < w.iQueued; ++i)
        w.Queue[static_cast<std::size_t>(i - 1)] = w.Queue[static_cast<std::size_t>(i)];
    --w.iQueued;
    return p;
}

bool NoticeQueued(const World& w) {
    for (int i = 0; i < w.iQueued; ++i)
        if (w.Queue[static_cast<std::size_t>(i)].bNotice)
            return true;
    return false;
}

bool NewestQueued(const World& w) {
    for (int i = 0; i < w.iQueued; ++i)
        if (!w.Queue[static_cast<std::size_t>(i)].bNotice && w.Queue[static_cast<std::size_t>(i)].uNumber == w.Loop.uNewest)
            return true;
    return false;
}

bool Enabled(const World& w, Step eStep) {
    const bool bTimersMayCome = w.iQueued == 0 && !w.bInput;
    switch (eStep) {
        case Step::ReaderPosts:
            return true;
        case Step::Dispatch:
        case Step::Drop:
            return w.iQueued > 0;
        case Step::Timer:
            return bTimersMayCome && w.Loop.bTimerSet;
        case Step::SystemTick:
            return bTimersMayCome && w.ulNow - w.ulLastSystemTick >= WORK_TICK_PERIOD_MS;
        case Step::InputComes:
            return !w.bInput;
        case Step::InputHandled:
            return w.bInput && w.iQueued == 0;
        case Step::TopExchange:
        case Step::TopCommand:
            return true;
    }
    return false;
}

void Apply(World& w, Step eStep, Script script, Inner eInner) {
    pWorld = &w;
    CurrentScript = script;
    w.ulNow += STEP_MS;
    switch (eStep) {
        case Step::ReaderPosts:
            w.bWorkWaits = true;
            if (!NoticeQueued(w) && w.iQueued < POSTED_MAX)
                w.Queue[static_cast<std::size_t>(w.iQueued++)] = Posted{true, 0};
            break;
        case Step::Dispatch: {
            const Posted p = PopFront(w);
            if (p.bNotice)
                Event(WorkEvent::ReaderNotice);
            else
                Event(WorkEvent::Continuation, p.uNumber);
            break;
        }
        case Step::Drop: {
            const Posted p = PopFront(w);
            if (p.bNotice || (p.uNumber == w.Loop.uNewest && w.Loop.bOnItsWay))
                w.bDropped = true;
            break;
        }
        case Step::Timer:
            Event(WorkEvent::ContinuationTimer);
            break;
        case Step::SystemTick:
            w.ulLastSystemTick = w.ulNow;
            Event(WorkEvent::Tick);
            // A tick that ran makes up for what was dropped (one too close to the last is left out).
            if (w.ulLastTickRan == w.ulNow)
                w.bDropped = false;
            break;
        case Step::InputComes:
            w.bInput = true;
            break;
        case Step::InputHandled:
            w.bInput = false;
            break;
        case Step::TopExchange:
            Exchange(eInner);
            break;
        case Step::TopCommand:
            Command();
            break;
    }
}

// The rules that hold at the top, between two steps.
void CheckAtTop(const World& w) {
    // The reader's notice runs the work when the loop has armed nothing itself.
    const bool bArmed = (w.Loop.bOnItsWay && NewestQueued(w)) || w.Loop.bTimerSet ||
                        (NoticeQueued(w) && !w.Loop.bOnItsWay) || w.bDropped;
    if (WorkLoopHasDue(w.Loop, Host()) && !bArmed)
        Fail("work waits and nothing is armed to run it");
    if (w.iCommandsIssued != w.iCommandsRan + w.Loop.iDeferredCount)
        Fail("a command was lost");
    // Continuations do not multiply: besides the newest, only one that a tick gave up on.
    int iContinuations = 0;
    for (int i = 0; i < w.iQueued; ++i)
        iContinuations += w.Queue[static_cast<std::size_t>(i)].bNotice ? 0 : 1;
    if (iContinuations > 2)
        Fail("continuations multiply");
}

// A state as far as what follows it depends on: times as ages, capped where all ages beyond
// behave alike, continuation numbers as newest or not.
std::string Key(const World& w) {
    auto Age = [&](unsigned long ulThen) {
        const unsigned long ul = w.ulNow - ulThen;
        return ul > 2 * WORK_TICK_PERIOD_MS ? 2 * WORK_TICK_PERIOD_MS : ul;
    };
    char szKey[160];
    int n = std::snprintf(szKey, sizeof szKey, "%d%d%d%d%d%d%d%d%d%d%d/%lu/%lu/%lu/%d:",
                          w.Loop.bReceiveDue, w.Loop.bTickDue, w.Loop.bOnItsWay, w.Loop.bTimerSet,
                          w.Loop.bTickRan, w.Loop.iDeferredCount, w.bInput, w.bWorkWaits, w.bDropped,
                          w.Loop.bReplaying, w.Loop.bWorking, Age(w.Loop.ulLastTick), Age(w.ulLastSystemTick),
                          Age(w.ulLastTickRan), w.iCommandsIssued - w.iCommandsRan);
    for (int i = 0; i < w.iQueued; ++i) {
        const Posted& p = w.Queue[static_cast<std::size_t>(i)];
        szKey[n++] = p.bNotice ? 'n' : (p.uNumber == w.Loop.uNewest ? 'N' : 's');
    }
    return std::string(szKey, static_cast<std::size_t>(n));
}

struct Explorer {
    std::unordered_map<std::string, unsigned long long> Seen[EXPLORED_DEPTH + 1];
    std::string sFirstFault;
    std::string sTrail[EXPLORED_DEPTH + 1];

    // The sequences of at most iLeft further steps from w, each checked; their number.
    unsigned long long Explore(const World& w, int iLeft) {
        if (iLeft == 0 || !sFirstFault.empty())
            return 1;
        const std::string sKey = Key(w);
        auto it = Seen[iLeft].find(sKey);
        if (it != Seen[iLeft].end())
            return it->second;
        unsigned long long ullCount = 1;
        for (int s = 0; s <= static_cast<int>(Step::TopCommand); ++s) {
            const Step eStep = static_cast<Step>(s);
            if (!Enabled(w, eStep))
                continue;
            const bool bScripted = eStep == Step::Dispatch || eStep == Step::Timer || eStep == Step::SystemTick;
            const int iScripts = bScripted ? 2 * static_cast<int>(Inners.size()) : 1;
            const int iInners = eStep == Step::TopExchange ? static_cast<int>(Inners.size()) : 1;
            for (int k = 0; k < iScripts; ++k) {
                for (int j = 0; j < iInners; ++j) {
                    World Next = w;
                    sFault.clear();
                    const Script script{Inners[static_cast<std::size_t>(k / 2)], k % 2 == 1};
                    Apply(Next, eStep, script, Inners[static_cast<std::size_t>(j)]);
                    if (Next.iExchanges != 0 || Next.iJobs != 0)
                        Fail("the step left the thread inside an exchange or work");
                    CheckAtTop(Next);
                    char szStep[64];
                    std::snprintf(szStep, sizeof szStep, "step %d script %d inner %d; ", s, k, j);
                    sTrail[iLeft] = szStep;
                    if (!sFault.empty()) {
                        sFirstFault = sFault + " after: ";
                        for (int d = EXPLORED_DEPTH; d >= iLeft; --d)
                            sFirstFault += sTrail[d];
                        return ullCount;
                    }
                    ullCount += Explore(Next, iLeft - 1);
                }
            }
        }
        Seen[iLeft][sKey] = ullCount;
        return ullCount;
    }
};

World Start() {
    World w{};
    WorkLoopReset(w.Loop);
    w.ulNow = 1000000;
    w.ulLastSystemTick = w.ulNow;
    w.ulLastTickRan = w.ulNow;
    return w;
}

} // namespace

TEST(WorkLoop, EverySequenceOfEventsKeepsTheLoopsRules) {
    World w = Start();
    // The first event sets the loop's clock; the world starts there.
    w.Loop.bStarted = true;
    w.Loop.ulLastTick = w.ulNow;
    Explorer e;
    const unsigned long long ullSequences = e.Explore(w, EXPLORED_DEPTH);
    EXPECT_EQ(e.sFirstFault, "");
    std::size_t nStates = 0;
    for (const auto& m : e.Seen)
        nStates += m.size();
    std::printf("explored %llu sequences of up to %d steps (%zu distinct states)\n", ullSequences,
                EXPLORED_DEPTH, nStates);
}
