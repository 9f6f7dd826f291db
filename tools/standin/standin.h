#pragma once
// The infodriver stand-in: a slot store that speaks the infodriver's side of the message protocol
// from a hidden top-level window on the calling thread. standin.exe wraps it with line commands
// on stdin and one event line per exchange on stdout; tests run it inside their own process.
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

constexpr int SLOT_COUNT = 65536; // slots 1..65535; 0 is never stored
constexpr int MAX_CLIENTS = 64;
constexpr int DEFAULT_REDUNDANCY = 2;           // TX/RX
constexpr UINT WM_STANDIN_COMMAND = WM_APP + 1; // lParam: a new[]-allocated command line, freed here

// Receives one machine-readable event line (no newline).
using LineSink = void (*)(const char* pszLine);

// A record as it arrived, byte for byte, for the tests of the wire format.
struct RawRecord {
    HWND hSender;
    ULONG_PTR dwData;
    DWORD cbData;
    std::vector<unsigned char> bytes;
};

// Creates the stand-in's window for infodriver iNumber on this thread. False when it failed.
bool Start(int iNumber, LineSink pfnSink);
// Destroys the window and forgets slots, clients and records.
void Stop();
HWND Window();
// A new window for the same infodriver, announced to every attached client with 2729; the old
// one stays open (and answers) until Stop.
HWND MoveToNewWindow();

const std::string& SlotText(int iSlot);
// A change from outside: stores the text and sends 2728 to every attached client.
void SetSlot(int iSlot, const char* pszText);
// Stores the text without telling anybody.
void PresetSlot(int iSlot, const char* pszText);
// Armed change: sent as 2728 to the next client that makes a request, inside that request and
// before its reply (so the client handles it nested).
void DeferSlot(int iSlot, const char* pszText);
void SetRedundancyState(int iState);
// Read and write lines are left out while quiet (for timing).
void SetQuiet(bool bQuiet);
// Every answer to a client's request (a record, 2732, 2733) takes at least this long: an
// infodriver busy with the rest of the control system, to prove the driver keeps up with one.
void SetExchangeDelayUs(unsigned uMicroseconds);
// The next answer to a client's request (a record, 2732, 2733) comes only after this long: an
// infodriver that stalls (a disk, a starved workstation, a debugger).
void StallNextAnswer(unsigned uMilliseconds);
// Ends a stall under way now; safe from any thread (the stalled window's thread cannot take a
// command while it stalls).
void ReleaseStall();

// Sends a plain message to every attached client; the last client's answer (0 without clients).
LRESULT SendToClients(UINT iMessage, WPARAM wParam);
// 2730 as a text record to every attached client.
void SendTextToClients(const char* pszText);

int ClientCount();
HWND ClientAt(int i);
long ReadCount();
long WriteCount();
const std::vector<int>& DriverStates();
int DetachCount();
// Every record received, oldest first (kept while recording is on).
const std::vector<RawRecord>& Records();
void ClearRecords();

// One command line; 0 done, 1 quit, -1 not understood (an "error" line says why).
int RunCommand(const char* pszLine);
const char* HelpText();

} // namespace standin
