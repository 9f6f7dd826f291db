#include "app/receive.h"

#include "protocol/external.h"
#include "protocol/publish.h"
#include "serial/device_port.h"

namespace {
int iLastDropped = 0;
int iEpisodeStart = -1; // dropped count when the current overflow episode began; -1: none

void WatchOverflow() {
    // Counted since the port object was made, across its closes and opens.
    const int iDropped = DevicePort.GetDroppedBytes();
    if (iDropped > iLastDropped && iEpisodeStart < 0) {
        iEpisodeStart = iLastDropped;
        DebugLine("Receive queue full - bytes lost");
        LogLine("Receive queue full - bytes lost");
    } else if (iDropped == iLastDropped && iEpisodeStart >= 0) {
        DebugLine("Receive queue overflow over - %d bytes lost", iDropped - iEpisodeStart);
        LogLine("Receive queue overflow over - %d bytes lost", iDropped - iEpisodeStart);
        iEpisodeStart = -1;
    }
    iLastDropped = iDropped;
}

} // namespace

void RunReceive() {
    ReceiveSlice(&DevicePort);
}

void WatchReceiveQueue() {
    WatchOverflow();
    DevicePort.TrimQueue();
}
