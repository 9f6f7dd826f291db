#include "infodriver/callback.h"

#include "app/mainwnd.h"
#include "protocol/assembly.h"
#include "protocol/pending.h"
#include "protocol/tally.h"

namespace {

// Done before the request is answered, as the infodriver expects. Against a slow infodriver that
// takes seconds, wherever the request arrives (nested inside one of the driver's own exchanges
// too): the device's bytes wait in the receive queue, which holds minutes of the line, and are
// framed and published once the reset is over, tallies first.
void ResetIdSlots(InfodriverClient* pClient) {
    // Values decided before the request would have been written before it, and emptied by it.
    for (int iSlot = 1; iSlot <= LAST_RESET_SLOT; ++iSlot)
        if (IsPending(iSlot))
            QueueSlot(iSlot, "");
    // The tallies are emptied too: the next resolution writes every one again, the lit ones that
    // have not changed included.
    ForgetPublishedTallies();
    for (int iSlot = 1; iSlot <= LAST_RESET_SLOT; ++iSlot)
        pClient->UpdateSlot(iSlot, "%s", "");
}

} // namespace

bool HandleSlotChange(int iIndex, const char* pszText, InfodriverClient* pClient) {
    if (iIndex < FIRST_WRITTEN_BACK)
        return true;
    switch (iIndex) {
        case SLOT_RESET_REQUEST:
            DebugLine("reset ID slots");
            ResetIdSlots(pClient);
            return true;
        case SLOT_IGNORED:
            return true;
        case SLOT_ECHO_IN:
            pClient->WriteSlot(SLOT_ECHO_OUT, "%s", pszText);
            return true;
        default:
            DebugLine("Slot Change Unused Function - slot %d has changed to '%s'", iIndex, pszText);
            return false;
    }
}

void InfodriverCallback(InfodriverClient* pClient, int iIndex, const char* pszText) {
    if (pClient->iStatus == IDSTAT_NOT_CONNECTED) {
        LogLine("Infodriver %d disconnected", pClient->iDevice);
        // The main window's destruction ends the program.
        CloseMainWindow();
        return;
    }
    if (pClient->iStatus != IDSTAT_CONNECTED) {
        DebugLine("iStatus=%d", pClient->iStatus);
        return;
    }
    // The text is data: never a format.
    if (!HandleSlotChange(iIndex, pszText, pClient))
        pClient->WriteSlot(iIndex, "%s", pszText);
    ShowLinkCounts();
}
