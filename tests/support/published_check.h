#pragma once
// Whether the real driver published exactly what the bytes it was sent decode to. A last text,
// unique to the call, goes to slot END_SLOT behind everything else: the driver handles messages in
// order, so once that text is written every earlier message has been published.
#include "protocol/slotmap.h"
#include "tests/support/decoded.h"
#include "tests/support/show_play.h"

#include <string>
#include <vector>

constexpr int END_SLOT = 1455; // text index 255
constexpr std::size_t END_NOT_SEEN = static_cast<std::size_t>(-1);

// The number of slots from 1 to iLast that differ from the in-memory decoding of Sent (the end
// text included), or END_NOT_SEEN when the end text was not published within dwMs. *psReport
// names the first differences.
inline std::size_t CheckPublished(StandinProcess& Standin, devsim::Line& Device,
                                  std::vector<unsigned char>& Sent, int iLast, DWORD dwMs,
                                  std::string* psReport) {
    static int iCall = 0;
    const std::string sEnd = "END " + std::to_string(++iCall) + " " + std::to_string(Sent.size());
    std::string sError;
    const devsim::Bytes End = devsim::TextMessage(END_SLOT - TEXT_BASE, sEnd, sError);
    const std::size_t iFrom = Standin.LineCount();
    // Sent again now and then: a driver that had to drop bytes may have dropped it too.
    constexpr DWORD AGAIN_MS = 5000;
    bool bSeen = false;
    for (const DWORD dwStart = GetTickCount(); !bSeen && GetTickCount() - dwStart < dwMs;) {
        if (!SendKept(Device, End, Sent))
            break;
        const DWORD dwElapsed = GetTickCount() - dwStart;
        const DWORD dwLeft = dwElapsed < dwMs ? dwMs - dwElapsed : 0;
        bSeen = WaitForWrite(Standin, END_SLOT, sEnd, dwLeft < AGAIN_MS ? dwLeft : AGAIN_MS, iFrom) >= 0;
    }
    if (!bSeen) {
        *psReport = "the end text \"" + sEnd + "\" was not published";
        return END_NOT_SEEN;
    }
    const Decoding Expected = DecodeInMemory(Sent, 1, iLast);
    std::size_t nMismatches = 0;
    *psReport = SlotDifferences(PublishedSlots(Standin, 1, iLast), Expected.Slots, 20, &nMismatches);
    *psReport += std::to_string(Expected.Slots.size()) + " slots compared, " + std::to_string(Sent.size()) +
                 " bytes sent";
    return nMismatches;
}
