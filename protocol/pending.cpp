#include "protocol/pending.h"

#include "protocol/external.h"

#include <cstring>

namespace {

struct PendingEntry {
    PendingText szText;
    bool bPending;
};

// A link slot's transition: slot and text, in the order they happened.
struct LinkTransition {
    int iSlot;
    PendingText szText;
};
std::array<LinkTransition, LINK_TRANSITIONS> Transitions{};
int iTransitionHead = 0; // the oldest
int iTransitions = 0;

std::array<PendingEntry, PENDING_ENTRIES> Entries{};
// Other entries than tallies in the order they became pending; each is in it at most once, so a
// ring of the table's size never overflows.
std::array<int, PENDING_ENTRIES> Order{};
int iOrderHead = 0; // next to take
int iOrderCount = 0;
int iPendingTallies = 0;
unsigned long ulSince = 0;
unsigned long long ullSuperseded = 0; // since the set was last empty

bool IsTally(int iEntry) {
    return iEntry <= LAST_TALLY_SLOT;
}

constexpr int EntryOf(int iSlot) {
    return iSlot >= 1 && iSlot <= LAST_DECODED_SLOT ? iSlot : -1;
}
static_assert(EntryOf(0) < 0 && EntryOf(LAST_DECODED_SLOT) == PENDING_ENTRIES - 1 && EntryOf(1456) < 0);

bool IsLinkSlot(int iSlot) {
    return iSlot == LINK_STATE_SLOT || iSlot == LINK_CLEAR_SLOT;
}

LinkTransition& TransitionAt(int i) {
    return Transitions[static_cast<std::size_t>((iTransitionHead + i) % LINK_TRANSITIONS)];
}

void NoteBecomingPending() {
    if (PendingCount() == 0) {
        ulSince = TickCountMs();
        ullSuperseded = 0;
    }
}

void QueueTransition(int iSlot, const char* pszText, std::size_t nText) {
    LinkTransition* pTransition = nullptr;
    for (int i = iTransitions - 1; iTransitions == LINK_TRANSITIONS && i >= 0 && !pTransition; --i)
        if (TransitionAt(i).iSlot == iSlot)
            pTransition = &TransitionAt(i);
    if (pTransition == nullptr) {
        NoteBecomingPending();
        pTransition = &TransitionAt(iTransitions++);
        pTransition->iSlot = iSlot;
    }
    std::memcpy(pTransition->szText.data(), pszText, nText + 1);
}

void PushOrder(int iEntry) {
    Order[static_cast<std::size_t>((iOrderHead + iOrderCount) % PENDING_ENTRIES)] = iEntry;
    ++iOrderCount;
}

int PopOrder() {
    const int iEntry = Order[static_cast<std::size_t>(iOrderHead)];
    iOrderHead = (iOrderHead + 1) % PENDING_ENTRIES;
    --iOrderCount;
    return iEntry;
}

} // namespace

void QueueSlot(int iSlot, const char* pszText) {
    const int iEntry = EntryOf(iSlot);
    const std::size_t nText = std::strlen(pszText);
    if (nText > static_cast<std::size_t>(PENDING_TEXT_CHARS) || (iEntry < 0 && !IsLinkSlot(iSlot))) {
        PublishSlot(iSlot, pszText);
        return;
    }
    if (iEntry < 0) {
        QueueTransition(iSlot, pszText, nText);
        return;
    }
    PendingEntry& entry = Entries[static_cast<std::size_t>(iEntry)];
    if (entry.bPending) {
        if (std::strcmp(entry.szText.data(), pszText) != 0)
            ++ullSuperseded;
    } else {
        NoteBecomingPending();
        entry.bPending = true;
        if (IsTally(iEntry))
            ++iPendingTallies;
        else
            PushOrder(iEntry);
    }
    std::memcpy(entry.szText.data(), pszText, nText + 1);
}

bool TakePending(int& iSlot, PendingText& szText) {
    int iEntry = 0;
    if (iPendingTallies > 0) {
        for (iEntry = 1; !Entries[static_cast<std::size_t>(iEntry)].bPending; ++iEntry) {
        }
        --iPendingTallies;
    } else if (iTransitions > 0) {
        const LinkTransition& transition = TransitionAt(0);
        iSlot = transition.iSlot;
        szText = transition.szText;
        iTransitionHead = (iTransitionHead + 1) % LINK_TRANSITIONS;
        --iTransitions;
        return true;
    } else if (iOrderCount > 0) {
        iEntry = PopOrder();
    } else {
        return false;
    }
    PendingEntry& entry = Entries[static_cast<std::size_t>(iEntry)];
    entry.bPending = false;
    szText = entry.szText;
    iSlot = iEntry;
    return true;
}

bool UrgentPending() {
    return iPendingTallies > 0 || iTransitions > 0;
}

bool IsPending(int iSlot) {
    for (int i = 0; i < iTransitions; ++i)
        if (TransitionAt(i).iSlot == iSlot)
            return true;
    const int iEntry = EntryOf(iSlot);
    return iEntry >= 0 && Entries[static_cast<std::size_t>(iEntry)].bPending;
}

int PendingCount() {
    return iPendingTallies + iTransitions + iOrderCount;
}

unsigned long PendingSinceMs() {
    return ulSince;
}

unsigned long long SupersededSinceEmpty() {
    return ullSuperseded;
}

void ClearPending() {
    Entries = {};
    iOrderHead = iOrderCount = iPendingTallies = 0;
    iTransitionHead = iTransitions = 0;
    ulSince = 0;
    ullSuperseded = 0;
}
