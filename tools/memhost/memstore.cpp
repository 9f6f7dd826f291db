#include "tools/memhost/memhost.h"

#include "protocol/counter.h"
#include "protocol/external.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>

namespace memhost {
namespace {
std::vector<std::string> Slots(SLOT_COUNT);
// Slots given a text since the last reset, which empties only these: a fuzz target resets the
// store for every input, and most inputs write a few hundred of the 65,536. Tables of the slots'
// size, so that marking one takes no call.
std::vector<int> Written(SLOT_COUNT);
std::size_t nWritten = 0;
std::vector<unsigned char> bWritten(SLOT_COUNT);
std::vector<SlotWrite> WriteLog;
std::vector<int> States;
long long llReads = 0;
long long llWrites = 0;
bool bRecording = true;
int iRedundancy = 2;
unsigned long ulExchangeCost = 0;
struct Arrival {
    long long llAtRead;
    std::vector<unsigned char> bytes;
};
std::deque<Arrival> Arrivals;

void ArriveUpTo(long long llRead) {
    while (!Arrivals.empty() && Arrivals.front().llAtRead <= llRead) {
        QueueBytes(Arrivals.front().bytes);
        Arrivals.pop_front();
    }
}
const std::string sNone;

// Out of line: the record's temporary would cost every exchange a guarded stack frame under the
// address sanitizer.
[[gnu::noinline]] void RecordWrite(int iSlot, const std::string& sText) {
    WriteLog.push_back({iSlot, sText});
}

bool ValidSlot(int iSlot) {
    return iSlot > 0 && iSlot < SLOT_COUNT;
}

std::string& HeldText(int iSlot) {
    if (!bWritten[iSlot]) {
        bWritten[iSlot] = 1;
        Written[nWritten++] = iSlot;
    }
    return Slots[iSlot];
}
} // namespace

const std::string& SlotText(int iSlot) {
    return ValidSlot(iSlot) ? Slots[iSlot] : sNone;
}

void SetSlotText(int iSlot, const std::string& sText) {
    if (ValidSlot(iSlot))
        HeldText(iSlot) = sText;
}

long long ReadCount() {
    return llReads;
}
long long WriteCount() {
    return llWrites;
}
const std::vector<SlotWrite>& Writes() {
    return WriteLog;
}
void SetRecording(bool bOn) {
    bRecording = bOn;
}
const std::vector<int>& DriverStates() {
    return States;
}

void SetRedundancyState(int iState) {
    iRedundancy = iState;
}
void SetExchangeCostMs(unsigned long ulMs) {
    ulExchangeCost = ulMs;
}

void ArriveAfterReads(long long llReads, const std::vector<unsigned char>& bytes) {
    // Never before one that is due earlier: bytes reach the port in the order they were sent.
    const long long llAt = Arrivals.empty() ? llReads : std::max(llReads, Arrivals.back().llAtRead);
    Arrivals.push_back({llAt, bytes});
}

void ArriveNow() {
    ArriveUpTo(LLONG_MAX);
}

void Reset() {
    for (std::size_t i = 0; i < nWritten; ++i) {
        Slots[Written[i]].clear();
        bWritten[Written[i]] = 0;
    }
    nWritten = 0;
    WriteLog.clear();
    States.clear();
    llReads = 0;
    llWrites = 0;
    iRedundancy = 2;
    ulExchangeCost = 0;
    Arrivals.clear();
}

} // namespace memhost

using namespace memhost;

bool PublishSlot(int iSlot, const char* pszText) {
    if (!ValidSlot(iSlot))
        return false;
    ++llReads;
    AdvanceClockMs(ulExchangeCost);
    if (!Arrivals.empty())
        ArriveUpTo(llReads);
    // The infodriver hands back at most 256 characters of a slot's text.
    std::string& sHeld = HeldText(iSlot);
    std::size_t nNew = std::strlen(pszText);
    bool bSame = nNew <= 256 && sHeld.size() == nNew && sHeld.compare(0, nNew, pszText) == 0;
    if (bSame)
        return false;
    ++llWrites;
    iInfodriverTx = NextCount(iInfodriverTx);
    AdvanceClockMs(ulExchangeCost);
    sHeld.assign(pszText, nNew);
    if (bRecording)
        RecordWrite(iSlot, sHeld);
    return true;
}

void ReportDriverState(int iValue) {
    States.push_back(iValue);
}

int QueryRedundancyState() {
    return iRedundancy;
}
