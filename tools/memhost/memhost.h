#pragma once
// In-memory stand-ins for the infodriver client, the serial port and the driver shell, for the
// protocol tests, the benchmarks, the replay tool and native (fuzzing) builds: a slot store that
// answers every read as the infodriver would, a byte queue that ReadPort drains, and a shell that
// records debug lines, log lines, panel texts and the title's state word.
#include <cstddef>
#include <string>
#include <utility>
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
// The redundancy state the store answers to a poll (2, TX/RX, at start).
void SetRedundancyState(int iState);
// Each slot exchange moves the clock on by this many milliseconds (0 at start), so that tests can
// give publishing the cost it has against a real infodriver.
void SetExchangeCostMs(unsigned long ulMs);
// The bytes reach the port queue once the store has answered llReads reads in all: the device
// sends while the driver publishes. Arrivals keep their order.
void ArriveAfterReads(long long llReads, const std::vector<unsigned char>& bytes);
// Every arrival still to come reaches the queue now.
void ArriveNow();

// Empties the store and its records (not the port queue).
void Reset();

// The port: bytes waiting to be read by ReadPort.
void QueueBytes(const unsigned char* pBytes, std::size_t nBytes);
void QueueBytes(const std::vector<unsigned char>& bytes);
std::size_t QueuedBytes();
void ClearPort(); // the bytes and the error word
// The error word every status poll of the port reports until it is set again (0 at start), with
// the bits of the system's own.
constexpr unsigned PORT_ERROR_RECEIVE_OVERRUN = 0x0001;
constexpr unsigned PORT_ERROR_OVERRUN = 0x0002;
constexpr unsigned PORT_ERROR_PARITY = 0x0004;
constexpr unsigned PORT_ERROR_FRAMING = 0x0008;
void SetPortErrors(unsigned uErrorWord);

// The shell. Both channels are on at start.
void SetDiagnostics(bool bDebug, bool bLog);
const std::vector<std::string>& DebugLines();
const std::vector<std::string>& LogLines();
bool HasDebugLine(const std::string& sLine);
int CountDebugLines(const std::string& sLine);
void ClearDiagnostics();
// The text last set on a control; "" for one never set.
const char* PanelText(int iControl);
// Every text set on the panel, in order, as (control, text).
const std::vector<std::pair<int, std::string>>& PanelWrites();
void ClearPanel();
// The state word last put into the window title; "" before any.
const std::string& TitleState();
// The millisecond clock behind TickCountMs.
void SetClockMs(unsigned long ulMs);
void AdvanceClockMs(unsigned long ulMs);
// Shell, panel, title and clock back to their start.
void ResetShell();

} // namespace memhost
