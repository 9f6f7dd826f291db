#include "protocol/assembly.h"

#include "protocol/commissioning.h"
#include "protocol/external.h"
#include "protocol/framing_budget.h"

#include <cstdio>
#include <cstring>

std::array<unsigned char, ASSEMBLY_BUFFER_SIZE> AssemblyBuffer{};
int iWrtPtr = 0;
int iSerialRxCount = 0;

namespace {

constexpr int INFODRIVER_RX_CONTROL = 2006;
constexpr int INFODRIVER_TX_CONTROL = 2007;

bool bQueueLeft = false; // the last receive stopped at its budget, not at an empty queue
// What controls 2007 and 2006 show: written only when they change, since every pass and publish
// step ends with them.
int iShownTx = -1;
int iShownRx = -1;

// Framing passes until one frees no room or the time budget is spent. A pass may stop early (an
// unrecognised pair, a command found inside a text) with complete messages still behind it, so
// one pass is not always enough. A buffer already above the discard limit is left to the pass
// that ends the receive, so that what framing cannot consume meets the same limits as ever.
void FrameWhileShrinking() {
    while (iWrtPtr <= ASSEMBLY_DISCARD_ABOVE && !FramingBudgetSpent()) {
        int iBefore = iWrtPtr;
        FrameMessages();
        if (iWrtPtr >= iBefore)
            return;
    }
}

bool RoomForChunk() {
    return iWrtPtr + RECEIVE_CHUNK <= ASSEMBLY_DISCARD_ABOVE;
}

// What the next read asks for: as many whole chunks as the buffer has room for (one when it has
// none), never more than the notification's budget leaves. Every read costs a trip through the
// queue's lock, and a chunk at a time a backlog of minutes took a minute to frame; whole chunks
// fill the buffer to the same points as one at a time.
int ReadSize(int iTaken) {
    const int iRoom = ASSEMBLY_DISCARD_ABOVE - iWrtPtr;
    const int iSize = iRoom >= RECEIVE_CHUNK ? iRoom / RECEIVE_CHUNK * RECEIVE_CHUNK : RECEIVE_CHUNK;
    const int iLeft = RECEIVE_BUDGET_BYTES - iTaken;
    return iSize < iLeft ? iSize : iLeft;
}

} // namespace

int ReceiveFromPort(SerialPort* pPort) {
    StartFramingBudget();
    bQueueLeft = false;
    // Once a notification: its only use is to count the line errors the port reports, and the
    // port keeps them until they are read.
    PollPortStatus(pPort);
    unsigned char Chunk[RECEIVE_BUDGET_BYTES];
    int iTaken = 0;
    for (;;) {
        if (iTaken >= RECEIVE_BUDGET_BYTES) {
            bQueueLeft = true;
            break;
        }
        // A backlog bigger than the buffer is framed as it drains, so that valid messages are not
        // thrown away for want of room. Only what framing cannot consume meets the limits below;
        // what it had no time for stays in the queue.
        if (!RoomForChunk()) {
            FrameWhileShrinking();
            if (!RoomForChunk() && FramingBudgetSpent()) {
                bQueueLeft = true;
                break;
            }
        }
        const int iAsked = ReadSize(iTaken);
        int iCount = ReadPort(pPort, Chunk, iAsked);
        if (iCount <= 0)
            break;
        if (iCount > iAsked)
            iCount = iAsked;
        iTaken += iCount;
        const bool bRoom = iWrtPtr + iCount < ASSEMBLY_BUFFER_SIZE;
        WatchReceivedBytes(Chunk, iCount, bRoom);
        if (!bRoom) {
            DebugLine("Buffer overflow - bytes lost");
            continue;
        }
        std::memcpy(AssemblyBuffer.data() + iWrtPtr, Chunk, static_cast<std::size_t>(iCount));
        iWrtPtr += iCount;
        // The queue's count says it is empty: the read that would return 0 costs as much as one
        // that returns bytes.
        if (!DeviceInputWaiting())
            break;
    }
    FrameMessages();
    return iTaken;
}

bool ReceiveWaiting() {
    return bQueueLeft || (PassEndedEarly() && iWrtPtr > 0);
}

void ShowCount(int iValue, int iControl) {
    char szText[16];
    std::snprintf(szText, sizeof szText, "%08d", iValue);
    SetPanelText(iControl, szText);
}

void ShowLinkCounts() {
    if (iInfodriverTx != iShownTx) {
        iShownTx = iInfodriverTx;
        ShowCount(iInfodriverTx, INFODRIVER_TX_CONTROL);
    }
    if (iInfodriverRx != iShownRx) {
        iShownRx = iInfodriverRx;
        ShowCount(iInfodriverRx, INFODRIVER_RX_CONTROL);
    }
}

void ForgetShownLinkCounts() {
    iShownTx = iShownRx = -1;
}
