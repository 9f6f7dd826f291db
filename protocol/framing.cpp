#include "protocol/assembly.h"

#include "protocol/commands.h"
#include "protocol/commissioning.h"
#include "protocol/counter.h"
#include "protocol/decode.h"
#include "protocol/external.h"
#include "protocol/framing_budget.h"
#include "protocol/link.h"
#include "protocol/settings.h"
#include "protocol/tally.h"

#include <cstring>

namespace {

constexpr int SERIAL_RX_CONTROL = 2008;

unsigned long ulBudgetStart = 0;
bool bEndedEarly = false;
int iShownRxCount = 0; // what control 2008 shows

void RemoveFront(int n) {
    iWrtPtr -= n;
    std::memmove(AssemblyBuffer.data(), AssemblyBuffer.data() + n, static_cast<std::size_t>(iWrtPtr));
}

void CountReceived() {
    iSerialRxCount = NextCount(iSerialRxCount);
}

// A doubled high byte inside a complete text message means the device restarted mid-text: the
// text is dropped and framing resumes at the embedded pair. True when one was found.
bool ResyncInsideText(int iStart) {
    for (int k = iStart + TEXT_RESYNC_FIRST; k <= iStart + TEXT_RESYNC_LAST; ++k) {
        if (AssemblyBuffer[k] >= FIRST_COMMAND_BYTE && AssemblyBuffer[k + 1] == AssemblyBuffer[k]) {
            DebugLine("Command found in string at %d", k);
            HexDump();
            RemoveFront(k);
            return true;
        }
    }
    return false;
}

} // namespace

void StartFramingBudget() {
    ulBudgetStart = TickCountMs();
}

bool FramingBudgetSpent() {
    return TickCountMs() - ulBudgetStart >= FRAMING_BUDGET_MS;
}

bool PassEndedEarly() {
    return bEndedEarly;
}

void FrameMessages() {
    bEndedEarly = false;
    if (iWrtPtr > ASSEMBLY_DISCARD_ABOVE) {
        DebugLine("iWrtPtr too big =%d", iWrtPtr);
        LogLine("iWrtPtr too big =%d", iWrtPtr);
        HexDump();
        iWrtPtr = 0;
        return;
    }
    int i = 0;
    while (i < iWrtPtr) {
        unsigned char b = AssemblyBuffer[i];
        if (b < FIRST_COMMAND_BYTE) {
            ++i;
            continue;
        }
        if (iWrtPtr - i < 2)
            return; // the byte after it has not arrived yet
        if (AssemblyBuffer[i + 1] != b) {
            CountReceived(); // a stray high byte
            ++i;
            continue;
        }
        MarkLinkAlive();
        MessageKind eKind = KindOf(b);
        if (eKind == MessageKind::Unrecognised) {
            DebugLine("Unrecognised command byte 0x%X", static_cast<unsigned>(b));
            RemoveFront(i + 2);
            bEndedEarly = true;
            return;
        }
        int iEnd = i + MessageLength(b, bExtensions);
        if (iWrtPtr < iEnd)
            return; // incomplete: wait for the rest
        if (eKind == MessageKind::Text && ResyncInsideText(i)) {
            bEndedEarly = true;
            return;
        }
        // The notification's time is up: the message waits, whole, for the next one.
        if (FramingBudgetSpent()) {
            bEndedEarly = true;
            return;
        }
        WatchMessage(eKind, i, iEnd);
        if (eKind == MessageKind::Trigger)
            ResolveTallies();
        else if (eKind != MessageKind::Marker)
            DecodeMessage(b, i, iEnd);
        RemoveFront(iEnd);
        CountReceived();
        i = 0;
    }
}

void ShowRxCount() {
    if (iSerialRxCount == iShownRxCount)
        return;
    iShownRxCount = iSerialRxCount;
    ShowCount(iSerialRxCount, SERIAL_RX_CONTROL);
}

void ForgetShownRxCount() {
    iShownRxCount = 0;
}
