#include "protocol/link.h"

#include "protocol/assembly.h"
#include "protocol/external.h"

int iSilentTicks = 0;
bool bCommsOK = false;

namespace {
constexpr int LINK_STATE_SLOT = 4091;
constexpr int LINK_CLEAR_SLOT = 4092;
constexpr int LINK_STATUS_CONTROL = 2001;
constexpr int DRIVER_STATE_RUNNING = 3;
} // namespace

void MarkLinkAlive() {
    iSilentTicks = 0;
    if (bCommsOK)
        return;
    DebugLine("Comms restored");
    LogLine("Comms restored");
    ReportDriverState(DRIVER_STATE_RUNNING);
    bCommsOK = true;
    ShowLinkStatus();
}

void ShowLinkStatus() {
    const char* pszPanel;
    if (bCommsOK) {
        PublishSlot(LINK_STATE_SLOT, "1");
        PublishSlot(LINK_CLEAR_SLOT, "");
        pszPanel = "Comms OK";
    } else {
        PublishSlot(LINK_STATE_SLOT, "0");
        pszPanel = "Comms FAIL";
    }
    SetPanelText(LINK_STATUS_CONTROL, pszPanel);
}

void ResetLink() {
    iWrtPtr = 0;
    bCommsOK = false;
    ShowLinkStatus();
    AssemblyBuffer.fill(0);
}
