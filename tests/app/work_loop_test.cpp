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

// What arrives inside an exchange: a command or a loop-opening message another process sends, the
// reader's notice sent by another process, a sent tick, the newest continuation dispatched by a
// loop nested in the exchange, or the system's hint that its ports changed.
enum class Inner : unsigned char { None, Command, Notice, Tick, Continuation, Hint, COUNT };

enum class Step : unsigned char {
    ReaderPosts,  // bytes arrive: the reader posts its notice (once while one waits)
    Dispatch,     // the front of the posted queue is dispatched
    Drop,         // a loop removes the front of the posted queue without dispatching it
    Timer,        // the continuation timer, when nothing is posted and no input waits
    SystemTick,   // the one-second timer, likewise, a period after the last
    InputComes,   // input waits: the loop must not post ahead of it
    InputHandled, // once nothing posted is left before it
    TopExchange,  // the infodriver sends an event at the top: the driver's exchange inside it
    TopSent,      // at the top: the operator's command, or the system's hint that its ports changed
    COUNT
};

constexpr unsigned NOTICE = 0; // a posted reader's notice; continuations are numbered from 1

struct World {
    WorkLoop Loop;
    std::array<unsigned, POSTED_MAX> Queue; // posted messages, oldest first
    int iQueued;
    bool bInput;
    bool bWorkWaits;
    // A posted message was taken without being dispatched since the last tick that ran: only a
    // tick can make up for it.
    bool bDropped;
    unsigned long ulNow, ulLastSystemTick, ulLastTickRan;
    int iCommandsIssued, iCommandsRan;
    int iExchanges, iJobs; // where the thread is, as the model sees it
};

World* pWorld = nullptr;
Inner eScriptInner = Inner::None; // what the receive's exchange brings in this step
bool bScriptMore = false;         // whether the receive leaves work
std::string sFault;               // the first broken rule of a step

void Fail(const char* pszRule) {
    if (sFault.empty())
        sFault = pszRule;
}

int FindPosted(const World& w, unsigned uWhat) {
    for (int i = 0; i < w.iQueued; ++i)
        if (w.Queue[static_cast<std::size_t>(i)] == uWhat)
            return i;
    return -1;
}

unsigned TakePosted(World& w, int i) {
    const unsigned u = w.Queue[static_cast<std::size_t>(i)];
    for (++i; i < w.iQueued; ++i)
        w.Queue[static_cast<std::size_t>(i - 1)] = w.Queue[static_cast<std::size_t>(i)];
    --w.iQueued;
    return u;
}

void Event(WorkEvent eEvent, unsigned uNumber = 0);
extern const WorkHost Host;

// A command as the window procedure takes it: run now, or deferred while it may not run.
void Command() {
    World& w = *pWorld;
    const int iId = w.iCommandsIssued++;
    if (WorkLoopMustDefer(w.Loop)) {
        if (!WorkLoopDefer(w.Loop, Host, DeferredMessage{0x111, static_cast<std::uintptr_t>(iId), 0}))
            Fail("a deferred command was dropped");
        return;
    }
    if (w.iExchanges > 0 || w.iJobs > 0 || iId != w.iCommandsRan++)
        Fail("a command ran inside an exchange or work, or out of order");
}

void Exchange(Inner eInner) {
    Event(WorkEvent::ExchangeBegins);
    if (eInner == Inner::Command)
        Command();
    if (eInner == Inner::Notice) {
        pWorld->bWorkWaits = true;
        Event(WorkEvent::ReaderNotice);
    }
    if (eInner == Inner::Tick)
        Event(WorkEvent::Tick);
    if (eInner == Inner::Hint)
        Event(WorkEvent::PortHint);
    const int iNewest = FindPosted(*pWorld, pWorld->Loop.uNewest);
    if (eInner == Inner::Continuation && iNewest >= 0)
        Event(WorkEvent::Continuation, TakePosted(*pWorld, iNewest));
    Event(WorkEvent::ExchangeEnds);
}

void Job(void (*pfnBody)()) {
    if (pWorld->iJobs > 0 || pWorld->iExchanges > 0)
        Fail("work ran inside work or inside an exchange");
    ++pWorld->iJobs;
    pfnBody();
    --pWorld->iJobs;
}

const WorkHost Host{
    [] { return pWorld->ulNow; },
    [] { return pWorld->bWorkWaits; },
    [] { return pWorld->bInput; },
    [] {
        Job([] {
            pWorld->ulLastTickRan = pWorld->ulNow;
            Exchange(Inner::None); // the redundancy poll
        });
    },
    [] { Job([] {}); }, // the look at the port
    [] {
        Job([] {
            if (pWorld->ulNow - pWorld->ulLastTickRan >= WORK_TICK_PERIOD_MS)
                Fail("the receive ran with the tick overdue");
            pWorld->ulNow += RECEIVE_MS;
            Exchange(eScriptInner);
            pWorld->bWorkWaits = bScriptMore;
        });
    },
    [](const DeferredMessage& Message) {
        World& w = *pWorld;
        if (w.iExchanges > 0 || w.iJobs > 0 || static_cast<int>(Message.wParam) != w.iCommandsRan++)
            Fail("a deferred command ran inside an exchange or work, out of order or twice");
    },
    [](unsigned uNumber) {
        World& w = *pWorld;
        if (w.iQueued == POSTED_MAX)
            return false;
        w.Queue[static_cast<std::size_t>(w.iQueued++)] = uNumber;
        return true;
    },
    [](bool) {},
};

void Event(WorkEvent eEvent, unsigned uNumber) {
    if (eEvent == WorkEvent::ExchangeBegins)
        ++pWorld->iExchanges;
    if (eEvent == WorkEvent::ExchangeEnds)
        --pWorld->iExchanges;
    WorkLoopEvent(pWorld->Loop, Host, eEvent, uNumber);
}

bool Enabled(const World& w, Step eStep) {
    const bool bTimersMayCome = w.iQueued == 0 && !w.bInput;
    switch (eStep) {
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
        default:
            return true;
    }
}

void Apply(World& w, Step eStep, Inner eInner) {
    pWorld = &w;
    w.ulNow += STEP_MS;
    switch (eStep) {
        case Step::ReaderPosts:
            w.bWorkWaits = true;
            if (FindPosted(w, NOTICE) < 0 && w.iQueued < POSTED_MAX)
                w.Queue[static_cast<std::size_t>(w.iQueued++)] = NOTICE;
            break;
        case Step::Dispatch: {
            const unsigned u = TakePosted(w, 0);
            Event(u == NOTICE ? WorkEvent::ReaderNotice : WorkEvent::Continuation, u);
            break;
        }
        case Step::Drop:
            if (const unsigned u = TakePosted(w, 0); u == NOTICE || (u == w.Loop.uNewest && w.Loop.bOnItsWay))
                w.bDropped = true;
            break;
        case Step::Timer:
            Event(WorkEvent::ContinuationTimer);
            break;
        case Step::SystemTick:
            w.ulLastSystemTick = w.ulNow;
            Event(WorkEvent::Tick);
            // One too close to the last tick is left out, and makes up for nothing.
            w.bDropped = w.bDropped && w.ulLastTickRan != w.ulNow;
            break;
        case Step::InputComes:
        case Step::InputHandled:
            w.bInput = eStep == Step::InputComes;
            break;
        case Step::TopExchange:
            Exchange(eInner);
            break;
        default:
            if (eInner == Inner::Hint)
                Event(WorkEvent::PortHint);
            else
                Command();
            break;
    }
}

// The rules that hold at the top, between two steps.
void CheckAtTop(const World& w) {
    if (w.iExchanges != 0 || w.iJobs != 0)
        Fail("the step left the thread inside an exchange or work");
    // The reader's notice runs the work when the loop has armed nothing itself.
    const bool bArmed = (w.Loop.bOnItsWay && FindPosted(w, w.Loop.uNewest) >= 0) || w.Loop.bTimerSet ||
                        (FindPosted(w, NOTICE) >= 0 && !w.Loop.bOnItsWay) || w.bDropped;
    if (WorkLoopHasDue(w.Loop, Host) && !bArmed)
        Fail("work waits and nothing is armed to run it");
    if (w.iCommandsIssued != w.iCommandsRan + w.Loop.iDeferredCount)
        Fail("a command was lost");
    // Continuations do not multiply: besides the newest, only one that a tick gave up on.
    int iContinuations = 0;
    for (int i = 0; i < w.iQueued; ++i)
        iContinuations += w.Queue[static_cast<std::size_t>(i)] != NOTICE;
    if (iContinuations > 2)
        Fail("continuations multiply");
}

// A state as far as what follows it depends on: times as ages, capped where all ages beyond
// behave alike, continuation numbers as newest or not.
std::string Key(const World& w) {
    auto Age = [&](unsigned long ulThen) { return std::min(w.ulNow - ulThen, 2 * WORK_TICK_PERIOD_MS); };
    const WorkLoop& l = w.Loop;
    std::string sKey =
        std::to_string(l.bReceiveDue + 2 * l.bTickDue + 4 * l.bOnItsWay + 8 * l.bTimerSet + 16 * l.bTickRan +
                       32 * w.bInput + 64 * w.bWorkWaits + 128 * w.bDropped) +
        "/" + std::to_string(l.iDeferredCount) + "/" + std::to_string(Age(l.ulLastTick)) + "/" +
        std::to_string(Age(w.ulLastSystemTick)) + "/" + std::to_string(Age(w.ulLastTickRan)) + "/";
    for (int i = 0; i < w.iQueued; ++i) {
        const unsigned u = w.Queue[static_cast<std::size_t>(i)];
        sKey += u == NOTICE ? 'n' : (u == l.uNewest ? 'N' : 's');
    }
    return sKey;
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
        if (auto it = Seen[iLeft].find(sKey); it != Seen[iLeft].end())
            return it->second;
        unsigned long long ullCount = 1;
        constexpr int INNERS = static_cast<int>(Inner::COUNT);
        for (int s = 0; s < static_cast<int>(Step::COUNT); ++s) {
            const Step eStep = static_cast<Step>(s);
            if (!Enabled(w, eStep))
                continue;
            // Steps that may run the receive try every script for it; the top exchange every inner.
            const bool bScripted =
                eStep == Step::Dispatch || eStep == Step::Timer || eStep == Step::SystemTick;
            const int iVariants = bScripted                    ? 2 * INNERS
                                  : eStep == Step::TopExchange ? INNERS
                                  : eStep == Step::TopSent     ? 2
                                                               : 1;
            for (int v = 0; v < iVariants; ++v) {
                World Next = w;
                sFault.clear();
                eScriptInner = static_cast<Inner>(bScripted ? v / 2 : 0);
                bScriptMore = v % 2 == 1;
                const Inner eInner =
                    eStep == Step::TopSent ? (v == 0 ? Inner::Command : Inner::Hint) : static_cast<Inner>(v);
                Apply(Next, eStep, eInner);
                CheckAtTop(Next);
                sTrail[iLeft] = "step " + std::to_string(s) + " variant " + std::to_string(v) + "; ";
                if (!sFault.empty()) {
                    sFirstFault = sFault + " after: ";
                    for (int d = EXPLORED_DEPTH; d >= iLeft; --d)
                        sFirstFault += sTrail[d];
                    return ullCount;
                }
                ullCount += Explore(Next, iLeft - 1);
            }
        }
        Seen[iLeft][sKey] = ullCount;
        return ullCount;
    }
};

} // namespace

TEST(WorkLoop, EverySequenceOfEventsKeepsTheLoopsRules) {
    World w{};
    WorkLoopReset(w.Loop);
    w.ulNow = w.ulLastSystemTick = w.ulLastTickRan = 1000000;
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
