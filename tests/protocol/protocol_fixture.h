#pragma once
// Shared set-up of the protocol tests: a fresh core, slot store, port queue, debug list and panel
// for every test, and builders for device messages.
#include <gtest/gtest.h>

#include "protocol/assembly.h"
#include "protocol/commands.h"
#include "protocol/decode.h"
#include "protocol/link.h"
#include "protocol/pending.h"
#include "protocol/publish.h"
#include "protocol/settings.h"
#include "protocol/state.h"
#include "protocol/tally.h"
#include "protocol/external.h"
#include "tools/memhost/memhost.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline void PrintTo(const SlotWrite& w, std::ostream* pOut) {
    *pOut << w.iSlot << "=\"" << w.sText << "\"";
}

// A message of the given command with its data (offsets 2 up) zero-padded to the full length.
inline Bytes Msg(unsigned char bCommand, const Bytes& data = {}, bool bExtended = false) {
    Bytes m(static_cast<std::size_t>(MessageLength(bCommand, bExtended)), 0);
    m[0] = m[1] = bCommand;
    for (std::size_t i = 0; i < data.size() && 2 + i < m.size(); ++i)
        m[2 + i] = data[i];
    return m;
}

// A zero message of the command with the given offsets set.
inline Bytes MsgAt(unsigned char bCommand, std::initializer_list<std::pair<int, int>> fields,
                   bool bExtended = false) {
    Bytes m = Msg(bCommand, {}, bExtended);
    for (const auto& f : fields)
        m.at(static_cast<std::size_t>(f.first)) = static_cast<unsigned char>(f.second);
    return m;
}

inline Bytes TextMsg(int iIndex, const std::string& sText) {
    Bytes m = Msg(0xC1);
    m[2] = static_cast<unsigned char>(iIndex);
    for (std::size_t c = 0; c < sText.size() && 3 + c < m.size(); ++c)
        m[3 + c] = static_cast<unsigned char>(sText[c]);
    return m;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    std::size_t nTotal = 0;
    for (const Bytes& p : parts)
        nTotal += p.size();
    Bytes all(nTotal);
    std::size_t n = 0;
    for (const Bytes& p : parts)
        for (unsigned char b : p)
            all[n++] = b;
    return all;
}

inline Bytes Repeat(unsigned char b, int n) {
    return Bytes(static_cast<std::size_t>(n), b);
}

// One receive notification after the bytes reached the port queue: a receive step, then a
// publish step when nothing was left to frame.
inline void Deliver(const Bytes& bytes) {
    memhost::QueueBytes(bytes);
    ReceiveAndPublish(nullptr);
}
inline void Notify() {
    ReceiveAndPublish(nullptr);
}

// The notifications the main window asks for itself while work is left that needs no new byte.
// Returns how many there were.
inline int Settle() {
    int n = 0;
    while (WorkWaiting() && n < 100000) {
        Notify();
        ++n;
    }
    return n;
}

// A second of the line: the bytes in pieces of 64, a notification each, then the one-second tick.
inline void LineSecond(const Bytes& bytes) {
    for (std::size_t p = 0; p < bytes.size(); p += 64)
        Deliver(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), p + 64))));
    Settle();
    memhost::AdvanceClockMs(1000);
    OnLinkTimer();
    Settle();
}

inline std::vector<int> WrittenSlots() {
    std::vector<int> slots;
    for (const SlotWrite& w : memhost::Writes())
        slots.push_back(w.iSlot);
    return slots;
}

inline std::vector<int> Range(int iFirst, int iLast) {
    std::vector<int> r;
    for (int s = iFirst; s <= iLast; ++s)
        r.push_back(s);
    return r;
}

inline std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What a stream leaves behind once everything is published: the store's slots, the decoded
// table, the tallies decided and their boxes.
struct Outcome {
    std::vector<std::string> slots; // 1 to 4095
    std::vector<unsigned char> table;
    std::vector<unsigned char> shown;
    std::vector<std::string> boxes;
};

inline Outcome Capture() {
    Outcome o;
    for (int s = 1; s <= 4095; ++s)
        o.slots.push_back(memhost::SlotText(s));
    o.table.assign(SlotByteTable.begin(), SlotByteTable.end());
    o.shown.assign(TallyShown.begin(), TallyShown.end());
    for (int n = 1; n <= TALLY_COUNT; ++n)
        o.boxes.push_back(memhost::PanelText(1005 + n));
    return o;
}

// "" when both are the same, else the first difference.
inline std::string Difference(const Outcome& a, const Outcome& b) {
    for (std::size_t i = 0; i < a.slots.size(); ++i)
        if (a.slots[i] != b.slots[i])
            return "slot " + std::to_string(i + 1) + ": \"" + a.slots[i] + "\" against \"" + b.slots[i] +
                   "\"";
    for (std::size_t i = 0; i < a.table.size(); ++i)
        if (a.table[i] != b.table[i])
            return "SlotByteTable[" + std::to_string(i) + "]";
    for (std::size_t i = 0; i < a.shown.size(); ++i)
        if (a.shown[i] != b.shown[i])
            return "TallyShown[" + std::to_string(i) + "]";
    for (std::size_t i = 0; i < a.boxes.size(); ++i)
        if (a.boxes[i] != b.boxes[i])
            return "tally box " + std::to_string(i + 1);
    return "";
}

using memhost::CountDebugLines;
using memhost::HasDebugLine;
using memhost::PanelText;

inline int DebugLineCount() {
    return static_cast<int>(memhost::DebugLines().size());
}
inline std::string DebugLineAt(int i) {
    return i >= 0 && i < DebugLineCount() ? memhost::DebugLines()[static_cast<std::size_t>(i)]
                                          : std::string();
}

class ProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetProtocolState();
        memhost::Reset();
        memhost::ClearPort();
        memhost::SetRecording(true);
        memhost::ResetShell();
        // The link is already judged good, so only the messages' own writes are recorded. The
        // link tests start from the unjudged state themselves.
        bCommsOK = true;
    }
};
