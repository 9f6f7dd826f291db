#include "protocol/publish.h"

#include "protocol/external.h"
#include "protocol/pending.h"
#include "protocol/tally.h"

namespace {

bool bBehind = false;  // "behind" has been reported and "caught up" not yet
bool bGaveWay = false; // the last step ended because bytes were waiting

// Both lines once per episode, on both channels: an engineer reading the log afterwards needs to
// know that values were dropped for newer ones, and for how long.
void NoteEpisode() {
    if (PendingCount() == 0) {
        if (bBehind) {
            DebugLine("Publishing caught up - %llu superseded values never sent", SupersededSinceEmpty());
            LogLine("Publishing caught up - %llu superseded values never sent", SupersededSinceEmpty());
            bBehind = false;
        }
        return;
    }
    if (!bBehind && TickCountMs() - PendingSinceMs() >= PUBLISH_BEHIND_MS) {
        DebugLine("Publishing behind the line - newest values first");
        LogLine("Publishing behind the line - newest values first");
        bBehind = true;
    }
}

} // namespace

int PublishPending() {
    const unsigned long ulStart = TickCountMs();
    int nSent = 0;
    int iSlot = 0;
    PendingText szText{};
    bGaveWay = false;
    bool bBoxesShown = false;
    while (TakePending(iSlot, szText)) {
        // The tallies have gone: their boxes before the rest, which may take long.
        if (iSlot > LAST_TALLY_SLOT && !bBoxesShown) {
            ShowTallyBoxes();
            bBoxesShown = true;
        }
        PublishSlot(iSlot, szText.data());
        ++nSent;
        bGaveWay = DeviceInputWaiting();
        if (bGaveWay || TickCountMs() - ulStart >= PUBLISH_BUDGET_MS)
            break;
    }
    NoteEpisode();
    return nSent;
}

int PublishUrgent() {
    int nSent = 0;
    int iSlot = 0;
    PendingText szText{};
    while (UrgentPending() && TakePending(iSlot, szText)) {
        PublishSlot(iSlot, szText.data());
        ++nSent;
    }
    ShowTallyBoxes();
    NoteEpisode();
    return nSent;
}

bool PublishGaveWay() {
    return bGaveWay;
}

void ResetPublishing() {
    ClearPending();
    bBehind = bGaveWay = false;
}
