#include "protocol/pending.h"

#include "protocol/external.h"

#include <cstring>

namespace {

struct PendingEntry {
    PendingText szText;
    bool bPending;
};

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
    const int iEntry = PendingEntryOf(iSlot);
    const std::size_t nText = std::strlen(pszText);
    if (iEntry < 0 || nText > static_cast<std::size_t>(PENDING_TEXT_CHARS)) {
        PublishSlot(iSlot, pszText);
        return;
    }
    PendingEntry& entry = Entries[static_cast<std::size_t>(iEntry)];
    if (entry.bPending) {
        if (std::strcmp(entry.szText.data(), pszText) != 0)
            ++ullSuperseded;
    } else {
        if (PendingCount() == 0) {
            ulSince = TickCountMs();
            ullSuperseded = 0;
        }
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
    } else if (iOrderCount > 0) {
        iEntry = PopOrder();
    } else {
        return false;
    }
    PendingEntry& entry = Entries[static_cast<std::size_t>(iEntry)];
    entry.bPending = false;
    szText = entry.szText;
    iSlot = SlotOfPendingEntry(iEntry);
    return true;
}

bool IsPending(int iSlot) {
    const int iEntry = PendingEntryOf(iSlot);
    return iEntry >= 0 && Entries[static_cast<std::size_t>(iEntry)].bPending;
}

int PendingCount() {
    return iPendingTallies + iOrderCount;
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
    ulSince = 0;
    ullSuperseded = 0;
}
