// The protocol core under libFuzzer: device bytes (or well-formed messages) in arbitrary chunks,
// with link ticks, a moving clock and slow publishing, through ReceiveAndPublish as the driver's
// window calls it. The core's invariants are checked after every notification and tick (the
// tallies the core touched since the last check, all 128 at every eighth), and on every slot a
// publish step sends; a broken one aborts with a message, which libFuzzer reports with the
// input. At the end the store must hold what publishing every slot at once would have left.
// tests/fuzz/fuzz_input.h says how an input is read.
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/slot_rules.h"

#include "protocol/assembly.h"
#include "protocol/commissioning_texts.h"
#include "protocol/external.h"
#include "protocol/link.h"
#include "protocol/pending.h"
#include "protocol/publish.h"
#include "protocol/settings.h"
#include "protocol/state.h"
#include "protocol/tally.h"
#include "tools/memhost/memhost.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace fuzzinput;
using slotrules::SlotClass;

namespace {

constexpr int BUFFER_BYTES = 1024;        // the assembly buffer
constexpr std::size_t RING_BYTES = 16383; // what the receive ring holds unread
constexpr int DEVICE_NUMBER = 12;
constexpr int FIRST_TALLY_CONTROL = 1005;
constexpr int SERIAL_RX_CONTROL = 2008;
constexpr int UNLIMITED = -1;

// Distinct numbers, each added once (the caller keeps a flag), in a fixed table: a vector's
// push_back would make every caller keep its argument in a guarded stack slot.
template <std::size_t N>
struct FixedList {
    std::array<int, N> Items{};
    std::size_t nItems = 0;
    void Add(int i) { Items[nItems++] = i; }
    void Clear() { nItems = 0; }
    const int* begin() const { return Items.data(); }
    const int* end() const { return Items.data() + nItems; }
};

// Every slot as publishing each text at once would leave it: a table over the slot map's numbers
// holding texts as long as a device text, copied without a call; slots outside it and longer texts
// (the core queues neither) are kept aside. A map cost a search and an allocation on every slot
// queued, and the core queues thousands an input.
struct AtOnceSlots {
    static constexpr std::size_t TEXT_CHARS = 17;
    struct Entry {
        std::array<char, TEXT_CHARS + 1> szText;
        bool bQueued;
        bool bAside; // the text is in Aside
    };
    std::array<Entry, slotrules::LAST_SLOT + 1> Table{};
    FixedList<slotrules::LAST_SLOT + 1> Queued; // slots of the table, in the order first queued
    std::map<int, std::string> Aside;

    // Out of line: the map takes the slot by reference, which would cost every call of Set a
    // guarded stack frame.
    [[gnu::noinline]] void SetAside(int iSlot, const char* pszText) { Aside[iSlot] = pszText; }
    [[gnu::noinline]] void DropAside(int iSlot) { Aside.erase(iSlot); }

    void Set(int iSlot, const char* pszText) {
        if (iSlot < 0 || iSlot > slotrules::LAST_SLOT) {
            SetAside(iSlot, pszText);
            return;
        }
        Entry& entry = Table[static_cast<std::size_t>(iSlot)];
        if (!entry.bQueued) {
            entry.bQueued = true;
            Queued.Add(iSlot);
        }
        std::size_t n = 0;
        for (; n <= TEXT_CHARS && pszText[n] != '\0'; ++n)
            entry.szText[n] = pszText[n];
        if (n <= TEXT_CHARS) {
            entry.szText[n] = '\0';
            if (entry.bAside)
                DropAside(iSlot);
            entry.bAside = false;
        } else {
            SetAside(iSlot, pszText);
            entry.bAside = true;
        }
    }
    void Clear() {
        for (int iSlot : Queued)
            Table[static_cast<std::size_t>(iSlot)] = Entry{};
        Queued.Clear();
        Aside.clear();
    }
};

// The run of one input.
bool bWellFormed = false;
std::vector<unsigned char> Stream;    // everything the device sends
std::size_t nSent = 0;                // bytes of Stream queued so far
std::vector<std::size_t> MessageEnds; // well-formed only: where each message ends in Stream
std::size_t nDebugSeen = 0;           // debug lines already checked
int iLastRxCount = 0;
int iNextContinuations = UNLIMITED; // the window's own notifications before the next delivery
AtOnceSlots AtOnce;
bool bInStep = false; // a publish step is under way
// Slots sent in the current step: the step's number against each slot of the map, a set for
// others.
std::array<unsigned, slotrules::LAST_SLOT + 1> SentInStep{};
unsigned uStep = 0;
std::set<int> OthersSentThisStep;
std::size_t nSentThisStep = 0;
bool bOtherSentThisStep = false; // a slot other than a tally has gone in this step
std::size_t nSlotsQueued = 0;    // calls of QueueSlot in this run
// Tallies whose text was queued or sent, or whose box was set, since the last check: only these
// can have moved apart from TallyShown through the core's own calls. All 128 are checked every
// CHECKS_PER_SWEEP checks and at the end, for a fault that moves one some other way.
std::array<bool, TALLY_COUNT + 1> bTallyTouched{};
// The link slots' transitions as queued and as sent: every one is sent, in its order, none
// coalesced into another, as long as no more of them wait than the pending set keeps.
struct LinkText {
    int iSlot;
    char szText[2];
};
constexpr std::size_t LINK_TEXTS_KEPT = 64;
std::array<LinkText, LINK_TEXTS_KEPT> LinkQueued{};
std::size_t nLinkQueued = 0;
std::size_t nLinkSent = 0;
bool bLinkUnchecked = false; // more waited than the set keeps, or more came than are kept here
FixedList<TALLY_COUNT> TalliesTouched;
unsigned uChecks = 0;
constexpr unsigned CHECKS_PER_SWEEP = 8;

[[noreturn]] DRAVIK_PRINTF(1, 2) void Violation(const char* pszFormat, ...) {
    std::fprintf(stderr, "\n*** protocol invariant broken: ");
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(stderr, pszFormat, args);
    va_end(args);
    std::fprintf(stderr, "\n    iWrtPtr=%d iSerialRxCount=%d iSilentTicks=%d bCommsOK=%d sent=%zu of %zu\n",
                 iWrtPtr, iSerialRxCount, iSilentTicks, bCommsOK ? 1 : 0, nSent, Stream.size());
    std::abort();
}

bool StartsWith(const std::string& s, const char* pszPrefix) {
    return s.compare(0, std::strlen(pszPrefix), pszPrefix) == 0;
}

// Well-formed messages fully queued so far.
int MessagesSent() {
    return static_cast<int>(std::upper_bound(MessageEnds.begin(), MessageEnds.end(), nSent) -
                            MessageEnds.begin());
}

// Without the library's string functions, which the address sanitizer makes costly on every
// check.
bool SameText(const char* psz1, const char* psz2) {
    for (; *psz1 == *psz2; ++psz1, ++psz2)
        if (*psz1 == '\0')
            return true;
    return false;
}

bool SameText(const std::string& s, const char* psz) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (psz[i] == '\0' || s[i] != psz[i])
            return false;
    return psz[s.size()] == '\0';
}

void TouchTally(int n) {
    if (n >= 1 && n <= TALLY_COUNT && !bTallyTouched[n]) {
        bTallyTouched[n] = true;
        TalliesTouched.Add(n);
    }
}

// What box n shows when lit: its number.
const std::array<std::array<char, 4>, TALLY_COUNT + 1> LitBoxes = [] {
    std::array<std::array<char, 4>, TALLY_COUNT + 1> boxes{};
    for (int n = 1; n <= TALLY_COUNT; ++n)
        std::snprintf(boxes[n].data(), boxes[n].size(), "%d", n);
    return boxes;
}();

// A tally whose text waits in the pending set is checked once it has been sent.
void CheckTally(const char* pszWhen, int n) {
    if (IsPending(n))
        return;
    const unsigned char bShown = TallyShown[n];
    const std::string& sSlot = memhost::SlotText(n);
    const char* pszPanel = memhost::PanelText(FIRST_TALLY_CONTROL + n);
    if (bShown == TALLY_NOT_PUBLISHED) {
        if (!sSlot.empty() || pszPanel[0] != '\0')
            Violation("%s: tally %d never published, yet slot \"%s\", box \"%s\"", pszWhen, n, sSlot.c_str(),
                      pszPanel);
        return;
    }
    if (bShown > 1)
        Violation("%s: TallyShown[%d] = %d", pszWhen, n, bShown);
    if (bShown == 1 && n == TALLY_COUNT)
        Violation("%s: tally 128 shown lit", pszWhen);
    const char* pszBox = bShown == 1 ? LitBoxes[n].data() : " ";
    if (sSlot.size() != 1 || sSlot[0] != '0' + bShown || !SameText(pszBox, pszPanel))
        Violation("%s: TallyShown[%d] = %d but slot \"%s\", box \"%s\"", pszWhen, n, bShown, sSlot.c_str(),
                  pszPanel);
}

void CheckTallies(const char* pszWhen, bool bSweep) {
    if (bSweep) {
        for (int n = 1; n <= TALLY_COUNT; ++n)
            CheckTally(pszWhen, n);
    } else {
        for (int n : TalliesTouched)
            CheckTally(pszWhen, n);
    }
    for (int n : TalliesTouched)
        bTallyTouched[n] = false;
    TalliesTouched.Clear();
}

void CheckDebugLines(const char* pszWhen) {
    const std::vector<std::string>& lines = memhost::DebugLines();
    for (; nDebugSeen < lines.size(); ++nDebugSeen) {
        const std::string& sLine = lines[nDebugSeen];
        if (!bWellFormed)
            continue;
        // Lines that a stream of well-formed messages never earns, whatever its chunking and its
        // data: it is read with the setting it was made for.
        for (const char* pszLost :
             {"iWrtPtr too big", "Buffer overflow - bytes lost", "Unrecognised command byte",
              "Command found in string", COMMISSIONING_PREFIXES[0], COMMISSIONING_PREFIXES[1]})
            if (StartsWith(sLine, pszLost))
                Violation("%s: well-formed messages only, yet \"%s\"", pszWhen, sLine.c_str());
    }
}

void Check(const char* pszWhen) {
    // The receive never fills the buffer to its last byte.
    if (iWrtPtr < 0 || iWrtPtr >= BUFFER_BYTES)
        Violation("%s: iWrtPtr = %d", pszWhen, iWrtPtr);
    if (iSerialRxCount < iLastRxCount)
        Violation("%s: iSerialRxCount went back from %d to %d", pszWhen, iLastRxCount, iSerialRxCount);
    iLastRxCount = iSerialRxCount;
    // While work is left the counter may lag: it is shown when the work runs out.
    if (iSerialRxCount > 0 && !WorkWaiting()) {
        char szCount[16];
        std::snprintf(szCount, sizeof szCount, "%08d", iSerialRxCount);
        if (std::strcmp(memhost::PanelText(SERIAL_RX_CONTROL), szCount) != 0)
            Violation("%s: Rx counter shows \"%s\", count %d", pszWhen, memhost::PanelText(SERIAL_RX_CONTROL),
                      iSerialRxCount);
    }
    if (iSilentTicks < 0 || iSilentTicks > 5)
        Violation("%s: iSilentTicks = %d", pszWhen, iSilentTicks);
    const std::string& sLink = memhost::SlotText(4091);
    if (!IsPending(4091) && !sLink.empty() && sLink != (bCommsOK ? "1" : "0"))
        Violation("%s: slot 4091 \"%s\" with bCommsOK %d", pszWhen, sLink.c_str(), bCommsOK ? 1 : 0);
    CheckTallies(pszWhen, ++uChecks % CHECKS_PER_SWEEP == 0);
    CheckDebugLines(pszWhen);
    if (bWellFormed && iSerialRxCount > MessagesSent())
        Violation("%s: %d counted, only %d messages sent", pszWhen, iSerialRxCount, MessagesSent());
}

// The window's work comes as one notification's, and as slices of several, in turn: what they
// decode and publish must not depend on how the steps are grouped.
unsigned uNotices = 0; // this input's notifications so far

void Notify(const char* pszWhen) {
    if (++uNotices % 2 == 0)
        ReceiveSlice(nullptr);
    else
        ReceiveAndPublish(nullptr);
    Check(pszWhen);
}

// The window asks for another notification at once while the last one left work that needs no
// new byte; iLimit cuts that short (more bytes arrive first), UNLIMITED lets it run out. Every
// such notification frees something: it frames bytes, or it sends at least one pending entry. So
// their number is bounded by the bytes waiting, the entries pending and the slots the bytes have
// queued since: a trigger of two bytes can queue all 128 tallies, and with a slow enough exchange
// each step sends only one.
void Continue(int iLimit) {
    const std::size_t nBound = 2 * (memhost::QueuedBytes() + static_cast<std::size_t>(iWrtPtr)) +
                               static_cast<std::size_t>(PendingCount()) + 64;
    const std::size_t nQueuedBefore = nSlotsQueued;
    for (std::size_t n = 0; WorkWaiting(); ++n) {
        if (iLimit != UNLIMITED && n >= static_cast<std::size_t>(iLimit))
            return;
        if (n >= nBound + (nSlotsQueued - nQueuedBefore))
            Violation("the window's own notifications do not end (%zu of them, %zu slots queued)", n,
                      nSlotsQueued - nQueuedBefore);
        Notify("continuation");
    }
}

// Bytes reach the port's queue, in ring-sized pieces: the ring would drop what is more than it
// holds before the core saw it.
void Queue(std::size_t nBytes) {
    nBytes = std::min(nBytes, Stream.size() - nSent);
    while (nBytes > 0) {
        if (memhost::QueuedBytes() >= RING_BYTES) {
            Notify("delivery");
            Continue(UNLIMITED);
        }
        const std::size_t nPiece = std::min(nBytes, RING_BYTES - memhost::QueuedBytes());
        memhost::QueueBytes(Stream.data() + nSent, nPiece);
        nSent += nPiece;
        nBytes -= nPiece;
    }
}

void Deliver(std::size_t nBytes) {
    if (nSent == Stream.size())
        return;
    Queue(nBytes);
    Notify("delivery");
    Continue(iNextContinuations);
    iNextContinuations = UNLIMITED;
}

void Tick() {
    // A device silent for five seconds inside a message loses it by design; a stream that is to
    // lose nothing is not given that silence.
    if (bWellFormed && iSilentTicks == SILENT_TICKS_TO_FAIL - 1 &&
        (iWrtPtr > 0 || memhost::QueuedBytes() > 0))
        return;
    memhost::AdvanceClockMs(1000);
    OnLinkTimer();
    Check("tick");
    // A tick can go ahead of the window's own notification, but not two in a row; the link slots
    // it queued are published by the work it continues.
    if (WorkWaiting())
        Notify("continuation after a tick");
}

void Play(unsigned char bOp) {
    const int a = bOp & 0x3F;
    if (bOp < OP_DELIVER_LARGE) {
        Deliver(static_cast<std::size_t>(a + 1));
    } else if (bOp < OP_TICKS) {
        Deliver(64 * static_cast<std::size_t>(a + 1));
    } else if (bOp < OP_CLOCK) {
        for (int n = 0; n <= (bOp & 0x0F); ++n)
            Tick();
    } else if (bOp < OP_CUT_CONTINUATIONS) {
        memhost::AdvanceClockMs(ClockSteps[bOp & 0x0F]);
    } else if (bOp < OP_REDUNDANCY) {
        iNextContinuations = bOp & 0x1F;
    } else if (bOp < OP_IDLE) {
        memhost::SetRedundancyState(RedundancyStates[bOp & 0x07]);
    } else if (bOp < OP_COST) {
        for (int n = 0; n <= (bOp & 0x07); ++n)
            Notify("idle notification");
    } else if (bOp < OP_QUEUE_ONLY) {
        memhost::SetExchangeCostMs(OpCosts[bOp & 0x0F]);
    } else {
        Queue(static_cast<std::size_t>((bOp & 0x1F) + 1));
    }
}

// A doubled high byte inside a text restarts framing there: a well-formed text has none.
void BreakPairsInText(std::size_t nStart) {
    for (int o = TEXT_PAIR_FIRST; o < TEXT_PAIR_LAST; ++o) {
        unsigned char& bNext = Stream[nStart + o + 1];
        if (Stream[nStart + o] >= 0x80 && bNext == Stream[nStart + o])
            bNext ^= 1;
    }
}

void BuildWellFormedStream(const std::uint8_t* pPayload, std::size_t nPayload, bool bExtensions) {
    std::size_t p = 0;
    while (p < nPayload) {
        const unsigned char bCommand = MessageCommands[pPayload[p++] % MessageCommands.size()];
        const std::size_t nStart = Stream.size();
        Stream.push_back(bCommand);
        Stream.push_back(bCommand);
        for (int o = 2; o < WellFormedLength(bCommand, bExtensions); ++o)
            Stream.push_back(p < nPayload ? pPayload[p++] : 0);
        if (bCommand == 0xC1)
            BreakPairsInText(nStart);
        MessageEnds.push_back(Stream.size());
    }
}

void StartRun(const std::uint8_t* pData, std::size_t nSize) {
    uNotices = 0;
    ResetProtocolState();
    memhost::Reset();
    memhost::ResetShell();
    memhost::ClearPort();
    memhost::SetRecording(false);
    Stream.clear();
    MessageEnds.clear();
    nSent = 0;
    nSlotsQueued = 0;
    nDebugSeen = 0;
    iLastRxCount = 0;
    uChecks = 0;
    iNextContinuations = UNLIMITED;
    nLinkQueued = nLinkSent = 0;
    bLinkUnchecked = false;

    const unsigned char bSettings = nSize > 0 ? pData[0] : 0;
    iDeviceNumber = DEVICE_NUMBER;
    bExtensions = (bSettings & SETTING_EXTENSIONS) != 0;
    bWellFormed = (bSettings & SETTING_WELL_FORMED) != 0;
    bCommsOK = (bSettings & SETTING_LINK_KNOWN) != 0;
    memhost::SetExchangeCostMs(StartCosts[bSettings >> SETTING_COST_SHIFT]);
    iTXoutput = TxOutputSlot(TxOutputSetting(nSize > 1 ? pData[1] : 0));
}

// What the run allocated is freed before it ends: libFuzzer runs an input again, and then scans
// the heap for leaks, whenever it ends with more allocations than it freed.
void EndRun() {
    AtOnce.Clear();
    memhost::Reset();
    memhost::ResetShell();
    memhost::ClearPort();
}

// Out of line, like AtOnceSlots::SetAside.
[[gnu::noinline]] bool FirstSentOutsideMap(int iSlot) {
    return OthersSentThisStep.insert(iSlot).second;
}

bool IsLinkSlot(int iSlot) {
    return iSlot == LINK_STATE_SLOT || iSlot == LINK_CLEAR_SLOT;
}

void NoteLinkQueued(int iSlot, const char* pszText) {
    if (nLinkQueued - nLinkSent >= static_cast<std::size_t>(LINK_TRANSITIONS) ||
        nLinkQueued == LINK_TEXTS_KEPT || std::strlen(pszText) > 1) {
        bLinkUnchecked = true;
        return;
    }
    LinkText& link = LinkQueued[nLinkQueued++];
    link.iSlot = iSlot;
    std::strcpy(link.szText, pszText);
}

void CheckLinkSent(int iSlot, const char* pszText) {
    if (bLinkUnchecked)
        return;
    if (nLinkSent == nLinkQueued)
        Violation("link slot %d sent with \"%.40s\", never queued", iSlot, pszText);
    const LinkText& link = LinkQueued[nLinkSent++];
    if (link.iSlot != iSlot || std::strcmp(link.szText, pszText) != 0)
        Violation("link transition %zu sent as slot %d \"%.40s\", queued as slot %d \"%s\"", nLinkSent, iSlot,
                  pszText, link.iSlot, link.szText);
}

void CheckAtOnce(int iSlot, const char* pszAtOnce) {
    const std::string& sSlot = memhost::SlotText(iSlot);
    if (!SameText(sSlot, pszAtOnce))
        Violation("slot %d ends \"%.40s\", publishing at once leaves \"%.40s\"", iSlot, sSlot.c_str(),
                  pszAtOnce);
}

} // namespace

// The calls of the core come here first: the fuzz target is linked with --wrap for the
// functions' (mangled) names, so even a slot the store would refuse is seen.
extern "C" void __real__Z9QueueSlotiPKc(int iSlot, const char* pszText);
extern "C" void __wrap__Z9QueueSlotiPKc(int iSlot, const char* pszText) {
    if (bInStep)
        Violation("slot %d queued during a publish step", iSlot);
    AtOnce.Set(iSlot, pszText);
    TouchTally(iSlot);
    if (IsLinkSlot(iSlot))
        NoteLinkQueued(iSlot, pszText);
    ++nSlotsQueued;
    __real__Z9QueueSlotiPKc(iSlot, pszText);
}

extern "C" int __real__Z14PublishPendingv();
extern "C" int __wrap__Z14PublishPendingv() {
    bInStep = true;
    if (++uStep == 0) {
        SentInStep = {};
        uStep = 1;
    }
    OthersSentThisStep.clear();
    nSentThisStep = 0;
    bOtherSentThisStep = false;
    const int nSent = __real__Z14PublishPendingv();
    bInStep = false;
    if (nSent == 0 && nSentThisStep != 0)
        Violation("a publish step sent %zu slots and says 0", nSentThisStep);
    return nSent;
}

extern "C" bool __real__Z11PublishSlotiPKc(int iSlot, const char* pszText);
extern "C" bool __wrap__Z11PublishSlotiPKc(int iSlot, const char* pszText) {
    if (!bInStep)
        Violation("slot %d sent outside a publish step", iSlot);
    const bool bInMap = iSlot >= 0 && iSlot <= slotrules::LAST_SLOT;
    // A link slot's failure and return may both go in one step; each has its own entry.
    if (IsLinkSlot(iSlot))
        CheckLinkSent(iSlot, pszText);
    else if (bInMap ? SentInStep[iSlot] == uStep : !FirstSentOutsideMap(iSlot))
        Violation("slot %d sent twice in one publish step", iSlot);
    if (bInMap)
        SentInStep[iSlot] = uStep;
    ++nSentThisStep;
    TouchTally(iSlot);
    if (iSlot <= TALLY_COUNT && bOtherSentThisStep)
        Violation("tally %d sent after another slot in the same step", iSlot);
    bOtherSentThisStep = bOtherSentThisStep || iSlot > TALLY_COUNT;
    const SlotClass eClass = slotrules::ClassOf(iSlot, bExtensions);
    if (eClass == SlotClass::None)
        Violation("slot %d written (\"%.40s\"): not a slot of the map%s", iSlot, pszText,
                  bExtensions ? "" : " without Extensions");
    if (!slotrules::TextFits(eClass, pszText))
        Violation("slot %d written with \"%.40s\"", iSlot, pszText);
    return __real__Z11PublishSlotiPKc(iSlot, pszText);
}

extern "C" void __real__Z12SetPanelTextiPKc(int iControl, const char* pszText);
extern "C" void __wrap__Z12SetPanelTextiPKc(int iControl, const char* pszText) {
    TouchTally(iControl - FIRST_TALLY_CONTROL);
    __real__Z12SetPanelTextiPKc(iControl, pszText);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    StartRun(pData, nSize);
    const std::size_t nSchedule = nSize > 2 ? std::min<std::size_t>(pData[2], nSize - HEADER_BYTES) : 0;
    const std::uint8_t* pSchedule = pData + std::min(nSize, HEADER_BYTES);
    const std::uint8_t* pPayload = pSchedule + nSchedule;
    const std::size_t nPayload = nSize - static_cast<std::size_t>(pPayload - pData);
    if (bWellFormed)
        BuildWellFormedStream(pPayload, nPayload, bExtensions);
    else
        Stream.assign(pPayload, pPayload + nPayload);

    for (std::size_t i = 0; i < nSchedule; ++i)
        Play(pSchedule[i]);
    // The rest as one backlog, then whatever the window still asks for.
    iNextContinuations = UNLIMITED;
    Queue(Stream.size() - nSent);
    Notify("last delivery");
    Continue(UNLIMITED);

    if (memhost::QueuedBytes() != 0)
        Violation("the window stopped asking with %zu bytes still queued", memhost::QueuedBytes());
    if (PendingCount() != 0)
        Violation("the window stopped asking with %d slots still to publish", PendingCount());
    CheckTallies("the end", true);
    if (!bLinkUnchecked && nLinkSent != nLinkQueued)
        Violation("%zu link transitions queued, %zu sent", nLinkQueued, nLinkSent);
    for (int iSlot : AtOnce.Queued)
        if (!AtOnce.Table[static_cast<std::size_t>(iSlot)].bAside)
            CheckAtOnce(iSlot, AtOnce.Table[static_cast<std::size_t>(iSlot)].szText.data());
    for (const auto& slot : AtOnce.Aside)
        CheckAtOnce(slot.first, slot.second.c_str());
    if (bWellFormed) {
        if (iSerialRxCount != static_cast<int>(MessageEnds.size()))
            Violation("%zu well-formed messages sent, %d counted", MessageEnds.size(), iSerialRxCount);
        if (iWrtPtr != 0)
            Violation("well-formed messages only, yet %d bytes left in the buffer", iWrtPtr);
    }
    EndRun();
    return 0;
}
