#include "protocol/link.h"

#include "protocol/assembly.h"
#include "protocol/external.h"
#include "protocol/pending.h"
#include "protocol/publish.h"
#include "protocol/settings.h"

#include <array>

int iSilentTicks = 0;
bool bCommsOK = false;
int iRedundancyState = 0;

namespace {

constexpr int LINK_STATUS_CONTROL = 2001;
constexpr int REDUNDANCY_CONTROL = 2010;
constexpr int DRIVER_STATE_RUNNING = 3;

// How each known redundancy state is shown: the indicator's caption, then its display command,
// the debug and log line (with the device number) and the title's state word.
struct RedundancyView {
    int iState;
    const char* pszCaption;
    const char* pszCommand;
    const char* pszLine;
    const char* pszTitle;
};

// clang-format off
constexpr std::array<RedundancyView, 3> RedundancyViews = {{
    // State  Caption          Command   Line                          Title
    {1,       "Rx Only",       "/__1B",  "ID %d gone RX only",         "RX only"},
    {2,       "TX/RX",         "/__2B",  "ID %d gone TX/RX",           "TX/RX"},
    {5,       "RxOnlyBroken",  "/__1B",  "ID %d gone RXonlyBroken",    "RxOnlyBroken"},
}};
// clang-format on

void SuperviseSilence() {
    if (iSilentTicks == SILENT_TICKS_TO_FAIL - 1) {
        DebugLine("ERROR COMMS FAIL");
        LogLine("COMMS FAIL");
        iSilentTicks = SILENT_TICKS_TO_FAIL;
        ResetLink();
        // The failure reaches slot 4091 before the poll, whatever waits: it goes behind the
        // tallies only.
        PublishPending();
        ShowLinkCounts();
    } else if (iSilentTicks < SILENT_TICKS_TO_FAIL - 1) {
        ++iSilentTicks;
    }
}

void ShowRedundancy(int iState) {
    for (const RedundancyView& view : RedundancyViews) {
        if (view.iState != iState)
            continue;
        SetPanelText(REDUNDANCY_CONTROL, view.pszCaption);
        SetPanelText(REDUNDANCY_CONTROL, view.pszCommand);
        DebugLine(view.pszLine, iDeviceNumber);
        LogLine(view.pszLine, iDeviceNumber);
        ShowTitleState(view.pszTitle);
        return;
    }
    SetPanelText(REDUNDANCY_CONTROL, "????");
    LogLine("ID %d returned status %d", iDeviceNumber, iState);
    DebugLine("ID %d returned status %d", iDeviceNumber, iState);
}

void PollRedundancy() {
    const int iState = QueryRedundancyState();
    if (iState == iRedundancyState)
        return;
    iRedundancyState = iState;
    ShowRedundancy(iState);
}

} // namespace

void OnLinkTimer() {
    SuperviseSilence();
    PollRedundancy();
    JudgeLineEachSecond();
}

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
        QueueSlot(LINK_STATE_SLOT, "1");
        QueueSlot(LINK_CLEAR_SLOT, "");
        pszPanel = "Comms OK";
    } else {
        QueueSlot(LINK_STATE_SLOT, "0");
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
