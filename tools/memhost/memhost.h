#pragma once
// In-memory stand-ins for the infodriver client and the serial port, for the protocol tests,
// the benchmarks, the replay tool and native (fuzzing) builds: a slot store that answers every
// read as the infodriver would, and a byte queue that ReadPort drains.
#include <cstddef>
#include <string>
#include <vector>

struct SlotWrite {
    int iSlot;
    std::string sText;
    bool operator==(const SlotWrite& o) const { return iSlot == o.iSlot && sText == o.sText; }
};

namespace memhost {

constexpr int SLOT_COUNT = 65536;

// The store: slot texts as the infodriver holds them. Every PublishSlot costs one read, and a
// write when the text differs, exactly like the client's UpdateSlot.
const std::string& SlotText(int iSlot);
void SetSlotText(int iSlot, const std::string& sText); // a change from outside; no write recorded
long long ReadCount();
long long WriteCount();
// Writes in the order they were made; recording can be switched off for benchmarks.
const std::vector<SlotWrite>& Writes();
void SetRecording(bool bOn);
// Driver states reported through ReportDriverState, in order.
const std::vector<int>& DriverStates();

// The port: bytes waiting to be read by ReadPort.
void QueueBytes(const unsigned char* pBytes, std::size_t nBytes);
void QueueBytes(const std::vector<unsigned char>& bytes);
std::size_t QueuedBytes();

void ClearPort();

// Empties the store and its records (not the port queue).
void Reset();

} // namespace memhost
