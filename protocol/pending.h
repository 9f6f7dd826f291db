#pragma once
// The pending set: every slot text the protocol has decided and not yet sent to the infodriver.
// Decoding runs ahead of publishing, so a slot the device changes again before it was sent keeps
// one entry, with the newest text, at the place where it first became pending. Tallies leave the
// set first, in ascending order, then the link slots' transitions, then every other slot in the
// order it became pending. The link slots are the exception to the newest text: each "0" of 4091
// when the link fails, and each "1" (with the emptying of 4092) when it comes back, is sent in its
// turn, so that the control system learns of a failure however short, and promptly however long
// the backlog behind it. Fixed tables: queueing allocates nothing.
#include "protocol/slotmap.h"

#include <array>

constexpr int LINK_STATE_SLOT = 4091; // "1" while the serial link is good, "0" after it failed
constexpr int LINK_CLEAR_SLOT = 4092; // emptied each time the link is shown good
constexpr int LAST_TALLY_SLOT = 128;
constexpr int LAST_DECODED_SLOT = TEXT_BASE + 255;

// Longest text the protocol publishes: a device text.
constexpr int PENDING_TEXT_CHARS = TEXT_MAX_CHARS;
using PendingText = std::array<char, PENDING_TEXT_CHARS + 1>;

// Entry of each decoded slot: slots 1 to 1455 as they stand (entry 0 is never used).
constexpr int PENDING_ENTRIES = LAST_DECODED_SLOT + 1;
// Link transitions waiting at most. A failure takes five silent ticks and each tick publishes
// what waits, so two of them never wait together; should they, the newest text of a slot replaces
// its last transition.
constexpr int LINK_TRANSITIONS = 8;

// The newest text for the slot; for a link slot, its next transition. A slot outside the table,
// or a text too long for an entry, is published at once instead (the protocol has neither).
void QueueSlot(int iSlot, const char* pszText);
// Takes the entry to send next: the lowest pending tally, else the oldest link transition, else
// the oldest other entry. False when the set is empty.
bool TakePending(int& iSlot, PendingText& szText);
int PendingCount();
// A tally or a link transition is pending: what goes first.
bool UrgentPending();
bool IsPending(int iSlot);
// When the set last became non-empty (TickCountMs), and how many texts were replaced by a
// different one before they were sent since then.
unsigned long PendingSinceMs();
unsigned long long SupersededSinceEmpty();
// The set emptied; for test support and a reset of the protocol state.
void ClearPending();
