#include "protocol/commissioning_form.h"

#include "protocol/assembly.h"
#include "protocol/commissioning_texts.h"
#include "protocol/external.h"
#include "protocol/settings.h"

#include <array>
#include <cstdint>
#include <cstring>

// On a line of either set, what follows a message is the next message. So a block or short
// message counts for the other set only when the two messages after it begin where the other set
// puts them (a known command pair at its end in that set, and another at that message's end),
// and not where the setting puts them. Data can place pairs anywhere, but on a good line read
// with the right setting the setting's chain always holds: its pairs are the next two messages'
// own command bytes, never data. When both chains hold the message says nothing either way, and
// so does one whose followers have not arrived yet.
//
// The framer, reading with the wrong setting, may frame the extension's data as a message, or
// swallow the next message whole: once a message has counted for the other set, the messages are
// followed where that set puts them for as long as its chain holds, and judged there.

namespace {

// The form the switcher sends, judged over its last judged block and short messages.
constexpr int FORM_WINDOW = 32;
constexpr int FORM_SAY = 20; // this many of them read as the other set: say so
constexpr int FORM_OVER = 4; // no more than this many: the episode is over, a new one speaks again
static_assert(FORM_WINDOW <= 32, "the window is a 32-bit history");

// The stream as it joined the assembly buffer, its bytes numbered from the first received, so that
// what the framer removes moves no position. It holds every byte still in the assembly buffer, and
// a judgement waits for no more than the two messages after its own.
constexpr int HISTORY_BYTES = ASSEMBLY_BUFFER_SIZE;
static_assert((HISTORY_BYTES & (HISTORY_BYTES - 1)) == 0, "positions wrap by a mask");
std::array<unsigned char, HISTORY_BYTES> History{};
long long llReceived = 0;

std::uint32_t uOtherForm = 0; // a bit per judged message, the newest lowest: it read as the other set
int iOtherForm = 0;           // bits set in uOtherForm
bool bFormSaid = false;

// The message judged, or the next one on the other set's chain: a known pair at llAt.
bool bBusy = false;
bool bFollowing = false; // the messages are followed where the other set puts them
long long llAt = 0;
unsigned char bAt = 0;
long long llJudged = 0; // the messages before it are judged: the framer may come to them again

// What PairAt and ChainAt find.
constexpr int AWAITED = -1; // the bytes that decide have not arrived
constexpr int NO_PAIR = 0;
constexpr int HOLDS = 1;

void JudgeForm(bool bOther) {
    if ((uOtherForm & (1u << (FORM_WINDOW - 1))) != 0)
        --iOtherForm;
    uOtherForm = (uOtherForm << 1) | (bOther ? 1u : 0u);
    iOtherForm += bOther ? 1 : 0;
    if (!bFormSaid && iOtherForm >= FORM_SAY) {
        bFormSaid = true;
        const char* pszText = bExtensions ? SENDS_PLAIN_TEXT : SENDS_EXTENDED_TEXT;
        DebugLine("%s", pszText);
        LogLine("%s", pszText);
    } else if (bFormSaid && iOtherForm <= FORM_OVER) {
        bFormSaid = false;
    }
}

// The command byte of a known command pair at ll, or NO_PAIR, or AWAITED.
int PairAt(long long ll) {
    if (ll >= llReceived)
        return AWAITED;
    if (ll < 0 || ll < llReceived - HISTORY_BYTES)
        return NO_PAIR; // no longer known: no evidence
    const unsigned char b = History[static_cast<std::size_t>(ll & (HISTORY_BYTES - 1))];
    if (KindOf(b) == MessageKind::Unrecognised)
        return NO_PAIR;
    if (ll + 1 >= llReceived)
        return AWAITED;
    return History[static_cast<std::size_t>((ll + 1) & (HISTORY_BYTES - 1))] == b ? b : NO_PAIR;
}

// Whether two messages of the set follow each other from ll: HOLDS, NO_PAIR or AWAITED. *piFirst
// gets the first one's command byte.
int ChainAt(long long ll, bool bLong, int* piFirst) {
    const int iFirst = PairAt(ll);
    if (iFirst <= NO_PAIR)
        return iFirst;
    *piFirst = iFirst;
    const int iSecond = PairAt(ll + MessageLength(static_cast<unsigned char>(iFirst), bLong));
    return iSecond <= NO_PAIR ? iSecond : HOLDS;
}

void Advance() {
    while (bBusy) {
        const bool bOtherLong = !bExtensions;
        int iNext = 0;
        const int iOther = ChainAt(llAt + MessageLength(bAt, bOtherLong), bOtherLong, &iNext);
        if (iOther == AWAITED)
            return;
        const MessageKind eKind = KindOf(bAt);
        if (eKind == MessageKind::Block || eKind == MessageKind::Short) {
            int iUnused = 0;
            const int iOwn = ChainAt(llAt + MessageLength(bAt, bExtensions), bExtensions, &iUnused);
            if (iOwn == AWAITED)
                return;
            if (iOwn != iOther)
                JudgeForm(iOther == HOLDS);
            llJudged = llAt + 1;
            bFollowing = bFollowing || (iOther == HOLDS && iOwn == NO_PAIR);
        }
        if (!bFollowing || iOther != HOLDS) {
            bBusy = bFollowing = false;
            return;
        }
        llAt += MessageLength(bAt, bOtherLong);
        bAt = static_cast<unsigned char>(iNext);
    }
}

} // namespace

void WatchFormBytes(const unsigned char* pBytes, int iCount) {
    while (iCount > 0) {
        const int iAt = static_cast<int>(llReceived & (HISTORY_BYTES - 1));
        const int iRun = iCount < HISTORY_BYTES - iAt ? iCount : HISTORY_BYTES - iAt;
        std::memcpy(History.data() + iAt, pBytes, static_cast<std::size_t>(iRun));
        llReceived += iRun;
        pBytes += iRun;
        iCount -= iRun;
    }
    Advance();
}

void WatchFormGap() {
    bBusy = bFollowing = false;
}

void WatchFormMessage(MessageKind eKind, int iStart) {
    // One judgement at a time: while the other set's chain is followed, it judges the messages.
    if (bBusy || (eKind != MessageKind::Block && eKind != MessageKind::Short))
        return;
    const long long ll = llReceived - iWrtPtr + iStart;
    const int iCommand = ll < llJudged ? NO_PAIR : PairAt(ll);
    if (iCommand <= NO_PAIR)
        return;
    bBusy = true;
    llAt = ll;
    bAt = static_cast<unsigned char>(iCommand);
    Advance();
}

void ForgetForm() {
    History.fill(0);
    llReceived = 0;
    uOtherForm = 0;
    iOtherForm = 0;
    bFormSaid = false;
    bBusy = bFollowing = false;
    llAt = 0;
    bAt = 0;
    llJudged = 0;
}
