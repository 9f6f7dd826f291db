#pragma once
// The pending set: every slot text the protocol has decided and not yet sent to the infodriver.
// Decoding runs ahead of publishing, so a slot the device changes again before it was sent keeps
// one entry, with the newest text, at the place where it first became pending. Tallies leave the
// set first, in ascending order, then every other slot in the order it became pending. A fixed
// table over the slots the protocol publishes: queueing allocates nothing.
#include "protocol/slotmap.h"

#include <array>

constexpr int LINK_STATE_SLOT = 4091; // "1" while the serial link is good, "0" after it failed
constexpr int LINK_CLEAR_SLOT = 4092; // emptied each time the link is shown good
constexpr int LAST_TALLY_SLOT = 128;
constexpr int LAST_DECODED_SLOT = TEXT_BASE + 255;

// Longest text the protocol publishes: a device text.
constexpr int PENDING_TEXT_CHARS = TEXT_MAX_CHARS;
using PendingText = std::array<char, PENDING_TEXT_CHARS + 1>;

// Entry of each published slot: slots 1 to 1455 as they stand, then the two link slots.
constexpr int PENDING_ENTRIES = LAST_DECODED_SLOT + 3; // entry 0 is never used
constexpr int PendingEntryOf(int iSlot) {
    return iSlot >= 1 && iSlot <= LAST_DECODED_SLOT ? iSlot
           : iSlot == LINK_STATE_SLOT               ? LAST_DECODED_SLOT + 1
           : iSlot == LINK_CLEAR_SLOT               ? LAST_DECODED_SLOT + 2
                                                    : -1;
}
constexpr int SlotOfPendingEntry(int iEntry) {
    return iEntry <= LAST_DECODED_SLOT       ? iEntry
           : iEntry == LAST_DECODED_SLOT + 1 ? LINK_STATE_SLOT
                                             : LINK_CLEAR_SLOT;
}
static_assert(PendingEntryOf(LINK_CLEAR_SLOT) == PENDING_ENTRIES - 1);
static_assert(SlotOfPendingEntry(PendingEntryOf(LINK_STATE_SLOT)) == LINK_STATE_SLOT);
static_assert(PendingEntryOf(0) < 0 && PendingEntryOf(1456) < 0 && PendingEntryOf(4093) < 0);

// The newest text for the slot. A slot outside the table, or a text too long for an entry, is
// published at once instead (the protocol has neither).
void QueueSlot(int iSlot, const char* pszText);
// Takes the entry to send next: the lowest pending tally, else the oldest other entry. False when
// the set is empty.
bool TakePending(int& iSlot, PendingText& szText);
int PendingCount();
bool IsPending(int iSlot);
// When the set last became non-empty (TickCountMs), and how many texts were replaced by a
// different one before they were sent since then.
unsigned long PendingSinceMs();
unsigned long long SupersededSinceEmpty();
// The set emptied; for test support and a reset of the protocol state.
void ClearPending();
