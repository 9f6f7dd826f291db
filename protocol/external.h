#pragma once
// The few functions through which the protocol core reaches the rest of the driver.
// protocol/ only declares them. The driver defines them in app/, infodriver/ and serial/;
// tools/memhost defines in-memory versions for tests, benchmarks and native builds.
// Everything here is called on the user-interface thread only.

#if defined(__GNUC__)
#define DRAVIK_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define DRAVIK_PRINTF(f, a)
#endif

class SerialPort;

// infodriver/: write-if-changed through the client's UpdateSlot. The text is data, never a format.
// True when the slot was written. Only the publish step calls it: the protocol queues its texts.
bool PublishSlot(int iSlot, const char* pszText);
// infodriver/: the client's SetDriverState (the driver reports 3 when its link is restored).
void ReportDriverState(int iValue);
// infodriver/: the client's GetRedundancyState; 0 when the infodriver does not answer.
int QueryRedundancyState();

// serial/: SerialPort::GetStatus. The receive path ignores its results; the serial layer counts
// the line errors it names (TakeLineErrors).
void PollPortStatus(SerialPort* pPort);
// serial/: SerialPort::Read; the number of bytes copied, 0 when the queue is empty.
int ReadPort(SerialPort* pPort, unsigned char* pBuffer, int iMaxBytes);
// serial/: bytes wait in the device port's receive queue. Asked between two slot exchanges, so
// cheap.
bool DeviceInputWaiting();
// serial/: the line errors the device port reported since the last call, by kind. Every reading
// of the port's error word counts one of each kind it names: the receive's status polls, and the
// reader's recovery from a failed read, which clears the word before a poll could see it.
struct LineErrorCounts {
    int iFraming;
    int iParity;
    int iOverrun;        // a character arrived before the port had passed on the last
    int iReceiveOverrun; // the port's receive buffer was full
};
LineErrorCounts TakeLineErrors();

// app/: the text of a status panel control.
void SetPanelText(int iControl, const char* pszText);
// app/: the debug list and the log file, printf-style, each switched by its setting.
void DebugLine(const char* pszFormat, ...) DRAVIK_PRINTF(1, 2);
void LogLine(const char* pszFormat, ...) DRAVIK_PRINTF(1, 2);
// app/: the first iWrtPtr bytes of the assembly buffer into the debug list.
void HexDump();
// app/: the line settings the switcher has to match, as the status panel shows them: speed, data
// bits, stop bits and parity ("38400,8,1,N").
const char* LineSettingsText();
// app/: the main window's title rebuilt with this state word.
void ShowTitleState(const char* pszState);
// app/: a millisecond clock (GetTickCount), for the receive path's time budget.
unsigned long TickCountMs();
// app/: infodriver traffic counters, incremented by the client (writes sent, changes received).
extern int iInfodriverTx;
extern int iInfodriverRx;
