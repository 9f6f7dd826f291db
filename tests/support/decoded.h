#pragma once
// The oracle for the real driver: the protocol core linked into the test with the in-memory
// hosts, decoding the same bytes from its start state into an empty store, each message published
// as it came. What the stand-in holds afterwards has to be exactly this.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/state.h"
#include "tests/support/standin_view.h"
#include "tools/memhost/memhost.h"
#include "tools/standin/events.h"

#include <string>
#include <vector>

struct Decoding {
    SlotTexts Slots;   // non-empty slots iFirst..iLast, escaped as the stand-in prints them
    int iRxCount = 0;  // the serial Rx counter (control 2008) the driver shows for the same bytes
    int iUnframed = 0; // bytes left in the assembly buffer
};

inline Decoding DecodeInMemory(const std::vector<unsigned char>& Stream, int iFirst, int iLast) {
    ResetProtocolState();
    memhost::Reset();
    memhost::ClearPort();
    memhost::ResetShell();
    memhost::SetDiagnostics(false, false);
    memhost::SetRecording(false);
    // A byte at a time, each published before the next: every message as it came, which is also
    // what the store must hold however the driver coalesced.
    for (unsigned char b : Stream) {
        memhost::QueueBytes(&b, 1);
        do
            ReceiveAndPublish(nullptr);
        while (WorkWaiting());
    }
    Decoding Result;
    for (int iSlot = iFirst; iSlot <= iLast; ++iSlot)
        if (!memhost::SlotText(iSlot).empty())
            Result.Slots[iSlot] = standin::Escaped(memhost::SlotText(iSlot));
    Result.iRxCount = iSerialRxCount;
    Result.iUnframed = iWrtPtr;
    return Result;
}

// The slots whose texts differ (a missing slot counts as empty), one line each, at most nShown
// of them; *pnMismatches gets their number.
inline std::string SlotDifferences(const SlotTexts& Published, const SlotTexts& Decoded, std::size_t nShown,
                                   std::size_t* pnMismatches) {
    SlotTexts All = Published;
    All.insert(Decoded.begin(), Decoded.end());
    std::string sReport;
    std::size_t n = 0;
    for (const auto& Slot : All) {
        const auto itP = Published.find(Slot.first);
        const auto itD = Decoded.find(Slot.first);
        const std::string sP = itP == Published.end() ? "" : itP->second;
        const std::string sD = itD == Decoded.end() ? "" : itD->second;
        if (sP == sD)
            continue;
        if (++n <= nShown)
            sReport += "  slot " + std::to_string(Slot.first) + ": published \"" + sP + "\", decoded \"" +
                       sD + "\"\n";
    }
    *pnMismatches = n;
    return sReport;
}
