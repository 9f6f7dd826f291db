// The driver end to end: the real dravik.exe reading one end of a null-modem pair, this program
// writing the device's bytes into the other end and serving as the driver's infodriver (the
// stand-in's core on this thread), so that one clock times both the line and the receipt.
//
//   scripts/bench.sh driver | sidebyside     (make the pairs and run this)
//   driver_bench.exe latency <driver COM> <device COM> [triggers]
//   driver_bench.exe floor <driver COM> <device COM> [triggers]
//   driver_bench.exe flatout <driver COM> <device COM> <device number> [seconds] [--record]
//   (DRAVIK_BENCH_DRIVER names another build's dravik.exe, to compare it with this one in one run)
//
// latency: from the write of a tally trigger to the stand-in's receipt of the newly lit tally's
// slot, at 38400 bit/s, in two cases: an idle line, and each trigger right behind a changing block
// message and an output message (the bulk a cut brings). Beside them the floor measured in the same
// run: the trigger's time on the wire and the exchanges of the tally's read and
// write (one and a half: the write is timed on arrival), taken from the bare ping-pong with the
// driver's client window. Each case runs in blocks of triggers without and with a line recording
// (Debug, Record line) in turn, without, with, with, without, so that a drift over the run weighs
// on both alike.
//
// floor: the driver, listen.exe (the driver's receive road without its window: the same core, the
// same publishing, the same work loop) and tally_floor.exe (the least program that publishes a
// tally from the line with the driver's own serial layer and client, and nothing else) in turn,
// two rounds each of triggers on an idle line and right behind a changing block message: the
// latency of each and the driver's against the other two.
//
// flatout: the same bulk and trigger back to back at the full line rate of 38400 bit/s, for
// several drivers side by side (one process of this each): the latency of every trigger, the bytes
// the driver lost, the slots that differ from an in-memory decoding at the end, and the driver's
// processor time. With --record, the quarters of the run go without and with a line recording in
// turn: the processor time of the driver's reader thread (and of the recording's writer) in each,
// and the size of a minute of recording.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/state.h"
#include "tests/support/child.h"
#include "tests/support/process_usage.h"
#include "tools/memhost/memhost.h"
#include "tools/standin/standin.h"
#include "tools/standin/wire.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int SPEED = 38400;
constexpr double BYTE_MS = 10.0 * 1000.0 / SPEED; // start, eight data bits, stop
constexpr int PINGS = 300;
constexpr int HIGHEST_TALLY = 127;
constexpr WPARAM RECORD_COMMAND = 32777; // Debug, Record line
constexpr int LATENCY_BLOCK = 100;       // triggers between switching the recording on or off

int iDevice = 77;
int iDriverPort = 7, iDevicePort = 8;
std::string sRoot; // CC_ROOT of the bench: settings and log under it

using Bytes = std::vector<unsigned char>;

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When the stand-in received each tally slot's last write of "1".
double dLitMs[129] = {};
long lEvents = 0;
void OnStandinLine(const char* pszLine) {
    const double dNow = NowMs();
    ++lEvents;
    int iSlot = 0, iMessage = 0;
    char szClient[32], szText[8] = "";
    if (std::sscanf(pszLine, "write %d %d %31s %7s", &iSlot, &iMessage, szClient, szText) == 4 &&
        iSlot >= 1 && iSlot <= 128 && std::strcmp(szText, "1") == 0)
        dLitMs[iSlot] = dNow;
}

void Serve() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

void Pump(double dMs) {
    const double dEnd = NowMs() + dMs;
    for (double dNow = NowMs(); dNow < dEnd; dNow = NowMs()) {
        Serve();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min(dEnd - dNow, 1.0) + 0.5),
                                  QS_ALLINPUT);
    }
}

template <typename Done>
bool PumpUntil(Done bDone, double dMs) {
    const double dEnd = NowMs() + dMs;
    while (!bDone()) {
        if (NowMs() >= dEnd)
            return false;
        Serve();
        if (!bDone())
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

// The device's end of the pair, 8N1.
class DeviceLine {
  public:
    DeviceLine() {
        char szPath[32];
        std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", iDevicePort);
        hCom = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (hCom != INVALID_HANDLE_VALUE && GetCommState(hCom, &dcb)) {
            dcb.BaudRate = SPEED;
            dcb.ByteSize = 8;
            dcb.Parity = NOPARITY;
            dcb.StopBits = ONESTOPBIT;
            SetCommState(hCom, &dcb);
        }
    }
    ~DeviceLine() {
        if (hCom != INVALID_HANDLE_VALUE)
            CloseHandle(hCom);
    }
    DeviceLine(const DeviceLine&) = delete;
    DeviceLine& operator=(const DeviceLine&) = delete;
    void Write(const Bytes& bytes) {
        DWORD dwWritten = 0;
        WriteFile(hCom, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
        Sent.insert(Sent.end(), bytes.begin(), bytes.end());
    }
    Bytes Sent;

  private:
    HANDLE hCom = INVALID_HANDLE_VALUE;
};

std::string LogPath() {
    char szName[32];
    std::snprintf(szName, sizeof szName, "Dravik_%03d.log", iDevice);
    return sRoot + "\\sys\\logs\\" + szName;
}

// A fresh settings file, an empty log, and the driver started against the stand-in.
bool StartDriver(ChildProcess& Driver) {
    const std::string sConfig = sRoot + "\\sys\\config\\system";
    for (const std::string& sDir :
         {sRoot, sRoot + "\\sys", sRoot + "\\sys\\config", sConfig, sRoot + "\\sys\\logs"})
        CreateDirectoryA(sDir.c_str(), nullptr);
    DeleteFileA(LogPath().c_str());
    char szIni[32];
    std::snprintf(szIni, sizeof szIni, "\\DEV_%03d.ini", iDevice);
    std::ofstream(sConfig + szIni, std::ios::trunc)
        << "[Dravik]\nLogMode=1\nDebugMode=0\nPort=" << iDriverPort << "\nSpeed=" << SPEED << "\n";
    SetEnvironmentVariableA("CC_ROOT", sRoot.c_str());
    SetEnvironmentVariableA("CC_SYSTEM", "sys");
    if (!Driver.Start(BenchDriverExe(DRAVIK_EXE), std::to_string(iDevice)))
        return false;
    // Attached, then the port open and the first redundancy poll answered.
    return PumpUntil([] { return standin::ClientCount() > 0; }, 20000) &&
           PumpUntil([] { return lEvents > 3; }, 5000);
}

int LogCount(const char* pszText) {
    std::ifstream log(LogPath());
    int n = 0;
    for (std::string sLine; std::getline(log, sLine);)
        n += sLine.find(pszText) != std::string::npos;
    return n;
}

// Debug, Record line; true once the driver's log has answered it (started, or the file complete).
bool SwitchRecording(HWND hMain, bool bOn) {
    const char* pszAnswer = bOn ? "Recording the line to " : "Line recording complete: ";
    const int iBefore = LogCount(pszAnswer);
    PostMessageA(hMain, WM_COMMAND, RECORD_COMMAND, 0);
    return PumpUntil([&] { return LogCount(pszAnswer) > iBefore; }, 5000);
}

// The last completed recording's figures from the driver's log line.
void LastRecording(long long* piLineBytes, double* pdSeconds, long long* piFileBytes) {
    std::ifstream log(LogPath());
    std::string sLast;
    for (std::string sLine; std::getline(log, sLine);)
        if (sLine.find("Line recording complete: ") != std::string::npos)
            sLast = sLine;
    const std::size_t i = sLast.find(".rec, ");
    *piLineBytes = 0;
    *pdSeconds = 0;
    *piFileBytes = 0;
    if (i != std::string::npos)
        std::sscanf(sLast.c_str() + i, ".rec, %lld bytes of the line in %lf s, file %lld bytes", piLineBytes,
                    pdSeconds, piFileBytes);
}

double ThreadCpuMs(DWORD dwThreadId) {
    HANDLE hThread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, dwThreadId);
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    double dMs = 0;
    if (hThread != nullptr && GetThreadTimes(hThread, &ftCreate, &ftExit, &ftKernel, &ftUser)) {
        auto Ms = [](const FILETIME& ft) {
            return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) /
                   1e4;
        };
        dMs = Ms(ftKernel) + Ms(ftUser);
    }
    if (hThread != nullptr)
        CloseHandle(hThread);
    return dMs;
}

double ThreadsCpuMs(const std::set<DWORD>& Threads) {
    double dMs = 0;
    for (DWORD dwId : Threads)
        dMs += ThreadCpuMs(dwId);
    return dMs;
}

void StopDriver(ChildProcess& Driver) {
    standin::SendToClients(2175, 0);
    Pump(300);
    if (Driver.Wait(5000) == STILL_ACTIVE)
        Driver.Kill();
}

// Output message 1 whose number 1 is the tally, its flag set: that tally is the only root (0: none).
Bytes Root(int iTally) {
    const unsigned char bFlag = iTally != 0 ? 1 : 0;
    return {0xB1, 0xB1, static_cast<unsigned char>(iTally), 0, 0, bFlag, 0, 0, 0, 0, 0, 0};
}

// Block message 1 with every field changed from the last one: a hundred slots to publish.
Bytes ChangedBlock(int i) {
    Bytes m = {0x81, 0x81};
    for (int o = 2; o < 25; ++o)
        m.push_back(static_cast<unsigned char>(i % 2 ? 0x55 : 0xAA));
    return m;
}

const Bytes TRIGGER = {0xD2, 0xD2};

double Percentile(std::vector<double> values, double dFraction) {
    std::sort(values.begin(), values.end());
    const std::size_t i = static_cast<std::size_t>(dFraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[i];
}

void PrintSpread(const char* pszName, const std::vector<double>& values) {
    std::printf(
        "  %-26s p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms  over 40 ms: %ld (%zu triggers)\n", pszName,
        Percentile(values, 0.5), Percentile(values, 0.99), *std::max_element(values.begin(), values.end()),
        static_cast<long>(std::count_if(values.begin(), values.end(), [](double d) { return d > 40.0; })),
        values.size());
}

// The median of a bare exchange: a record to the driver's client window, answered by its reply
// record sent back into this window during the request, as every slot exchange is.
double PingMs() {
    const HWND hClient = standin::ClientAt(0);
    std::vector<double> times;
    for (int i = 0; i < PINGS; ++i) {
        const double dStart = NowMs();
        standin::SendNumberRecord(standin::Window(), hClient, 2032, 0, 0);
        times.push_back(NowMs() - dStart);
    }
    return Percentile(times, 0.5);
}

// Tallies from 127 down: each newly lit one is lower than the one going out, so it is the first
// slot written. A trigger with no root ends each round, so that 127 never follows a lower one.
class TallySequence {
  public:
    int Next() {
        iTally = iTally <= 1 ? HIGHEST_TALLY + 1 : iTally - 1;
        return iTally > HIGHEST_TALLY ? 0 : iTally;
    }

  private:
    int iTally = 2;
};

// One trigger: the bulk before it (idle: none), then the trigger once the bulk is on the wire;
// the time from the trigger's write to the tally's receipt, or a negative value.
double TimeTrigger(DeviceLine& Line, int iTally, const Bytes& bulk) {
    dLitMs[iTally] = 0;
    Line.Write(bulk);
    Pump(static_cast<double>(bulk.size()) * BYTE_MS);
    const double dStart = NowMs();
    Line.Write(TRIGGER);
    if (iTally == 0) {
        Pump(20);
        return -1;
    }
    if (!PumpUntil([iTally] { return dLitMs[iTally] != 0; }, 5000))
        return -1;
    return dLitMs[iTally] - dStart;
}

// A trigger on an idle line, its root's output message published first on its own; a trigger
// right behind a changing block message and its root's output message. The latency, or a
// negative value.
double IdleTrigger(DeviceLine& Line, int iTally) {
    Line.Write(Root(iTally));
    Pump(30);
    return TimeTrigger(Line, iTally, {});
}
double LoadedTrigger(DeviceLine& Line, int iTally, int i) {
    Bytes bulk = ChangedBlock(i);
    const Bytes root = Root(iTally);
    bulk.insert(bulk.end(), root.begin(), root.end());
    return TimeTrigger(Line, iTally, bulk);
}

void Latency(int iTriggers) {
    ChildProcess Driver;
    DeviceLine Line;
    if (!StartDriver(Driver)) {
        std::printf("latency: the driver did not attach\n");
        return;
    }
    // The first trigger publishes all 128 tallies; then the floor's exchange.
    Line.Write(TRIGGER);
    Pump(1000);
    const double dPing = PingMs();

    // [without, with a recording]
    std::vector<double> idle[2], loaded[2];
    TallySequence Tallies;
    const HWND hMain = Driver.WaitForWindow("CLASS_Dravik", 5000);
    bool bRecording = false;
    auto Record = [&](int i) {
        const int iBlock = i / LATENCY_BLOCK;
        const bool bWith = iBlock % 4 == 1 || iBlock % 4 == 2;
        if (bWith != bRecording) {
            if (!SwitchRecording(hMain, bWith))
                std::printf("latency: the recording did not switch %s\n", bWith ? "on" : "off");
            bRecording = bWith;
            Pump(200);
        }
        return bRecording ? 1 : 0;
    };
    for (int i = 0; i < 2 * iTriggers;) {
        const int iWith = Record(i);
        const double dMs = IdleTrigger(Line, Tallies.Next());
        if (dMs >= 0) {
            idle[iWith].push_back(dMs);
            ++i;
        }
    }
    Pump(200);
    for (int i = 0; i < 2 * iTriggers;) {
        const int iWith = Record(i);
        const double dMs = LoadedTrigger(Line, Tallies.Next(), i);
        if (dMs >= 0) {
            loaded[iWith].push_back(dMs);
            ++i;
        }
    }
    if (bRecording)
        SwitchRecording(hMain, false);
    StopDriver(Driver);

    // The driver's reads return with the first byte: no read interval to wait out.
    const double dFloor = 2 * BYTE_MS + 1.5 * dPing;
    std::printf("latency at %d bit/s, trigger written -> newly lit tally received:\n", SPEED);
    PrintSpread("idle line", idle[0]);
    PrintSpread("behind a block and output", loaded[0]);
    std::printf("  the same with the line recorded, in blocks of %d between the others:\n", LATENCY_BLOCK);
    PrintSpread("idle line, recorded", idle[1]);
    PrintSpread("behind bulk, recorded", loaded[1]);
    std::printf("  floor %.2f ms: wire %.2f ms + 1.5 exchanges of %.3f ms (bare "
                "ping-pong, median of %d)\n",
                dFloor, 2 * BYTE_MS, dPing, PINGS);
    std::printf("  idle p50 / floor %.2f (target 1.15); loaded p50 - idle p50 = %.2f exchanges (target 2)\n",
                Percentile(idle[0], 0.5) / dFloor,
                (Percentile(loaded[0], 0.5) - Percentile(idle[0], 0.5)) / dPing);
}

// A program of ours that reads the port and publishes, started against the stand-in.
bool StartReader(ChildProcess& Reader, const char* pszExe) {
    return Reader.Start(pszExe, std::to_string(iDevice) + " " + std::to_string(iDriverPort)) &&
           PumpUntil([] { return standin::ClientCount() > 0; }, 20000);
}

void FloorComparison(int iTriggers) {
    constexpr int SUBJECTS = 3;
    const char* const pszSubjects[SUBJECTS] = {"driver", "listen", "floor"};
    const char* const pszExes[SUBJECTS] = {nullptr, LISTEN_EXE, TALLY_FLOOR_EXE};
    std::vector<double> idle[SUBJECTS], loaded[SUBJECTS];
    TallySequence Tallies;
    double dPing = 0;
    for (int iRound = 0; iRound < 2; ++iRound) {
        for (int iSubject = 0; iSubject < SUBJECTS; ++iSubject) {
            ChildProcess Subject;
            DeviceLine Line;
            PumpUntil([] { return standin::ClientCount() == 0; }, 5000);
            if (!(iSubject == 0 ? StartDriver(Subject) : StartReader(Subject, pszExes[iSubject]))) {
                std::printf("floor: the %s did not attach\n", pszSubjects[iSubject]);
                return;
            }
            Line.Write(TRIGGER);
            Pump(1000);
            dPing = PingMs();
            for (int i = 0; i < iTriggers;) {
                const double dMs = IdleTrigger(Line, Tallies.Next());
                if (dMs >= 0) {
                    idle[iSubject].push_back(dMs);
                    ++i;
                }
            }
            Pump(200);
            for (int i = 0; i < iTriggers;) {
                const double dMs = LoadedTrigger(Line, Tallies.Next(), i);
                if (dMs >= 0) {
                    loaded[iSubject].push_back(dMs);
                    ++i;
                }
            }
            if (iSubject == 0) {
                StopDriver(Subject);
            } else {
                Subject.Kill();
                standin::SendToClients(WM_NULL, 0); // the stand-in forgets a client whose window has gone
            }
        }
    }
    std::printf("latency at %d bit/s beside listen and the floor, two rounds of %d triggers each in turn "
                "(exchange %.3f ms):\n",
                SPEED, iTriggers, dPing);
    for (int iSubject = 0; iSubject < SUBJECTS; ++iSubject)
        PrintSpread((std::string(pszSubjects[iSubject]) + ", idle line").c_str(), idle[iSubject]);
    for (int iSubject = 0; iSubject < SUBJECTS; ++iSubject)
        PrintSpread((std::string(pszSubjects[iSubject]) + ", behind a block").c_str(), loaded[iSubject]);
    for (int iSubject = 1; iSubject < SUBJECTS; ++iSubject)
        std::printf("  driver / %s: idle p50 %.2f p99 %.2f; behind a block p50 %.2f p99 %.2f\n",
                    pszSubjects[iSubject], Percentile(idle[0], 0.5) / Percentile(idle[iSubject], 0.5),
                    Percentile(idle[0], 0.99) / Percentile(idle[iSubject], 0.99),
                    Percentile(loaded[0], 0.5) / Percentile(loaded[iSubject], 0.5),
                    Percentile(loaded[0], 0.99) / Percentile(loaded[iSubject], 0.99));
}

// Bytes the driver reported lost: its overflow lines in the log.
long LostBytes() {
    std::ifstream log(LogPath());
    long lLost = 0;
    for (std::string sLine; std::getline(log, sLine);) {
        const std::size_t i = sLine.find("overflow over - ");
        if (i != std::string::npos)
            lLost += std::atol(sLine.c_str() + i + 16);
        else if (sLine.find("Receive queue full") != std::string::npos && lLost == 0)
            lLost = -1; // an episode still open at the end
    }
    return lLost;
}

// The slots that differ from the in-memory decoding of what was sent, each message published as
// it came.
int DifferingSlots(const Bytes& sent) {
    ResetProtocolState();
    memhost::Reset();
    memhost::ResetShell();
    memhost::SetRecording(false);
    memhost::SetDiagnostics(false, false);
    for (unsigned char b : sent) {
        memhost::QueueBytes(&b, 1);
        do
            ReceiveAndPublish(nullptr);
        while (WorkWaiting());
    }
    int iDiffering = 0;
    for (int iSlot = 1; iSlot < 4089; ++iSlot)
        iDiffering += memhost::SlotText(iSlot) != standin::SlotText(iSlot);
    return iDiffering;
}

// The processor time of the driver's reader, and of a recording's writer, in the quarters of a
// run that go without and with a recording in turn.
class RecordingQuarters {
  public:
    RecordingQuarters(ChildProcess& Driver, HWND hMain, double dStart, int iSeconds)
        : Driver(Driver), hMain(hMain), dStart(dStart), iSeconds(iSeconds) {
        // The reader: every thread but the window's, before the recording's writer joins them.
        Reader = ThreadIdsOf(Driver.Id());
        Reader.erase(GetWindowThreadProcessId(hMain, nullptr));
    }
    // Called as the run goes: switches at each quarter.
    void Step(double dNow) {
        const int iQuarter = std::min(3, static_cast<int>((dNow - dStart) / (iSeconds * 250.0)));
        if (iQuarter == iCurrent)
            return;
        EndQuarter(dNow);
        iCurrent = iQuarter;
        const bool bWith = iQuarter % 2 == 1;
        const std::set<DWORD> Before = ThreadIdsOf(Driver.Id());
        if (bWith)
            iRecordings += SwitchRecording(hMain, true);
        dwRecorder = bWith ? NewThread(Before, ThreadIdsOf(Driver.Id())) : 0;
        dFrom = NowMs();
        dReaderFrom = ThreadsCpuMs(Reader);
    }
    void Finish() { EndQuarter(NowMs()); }
    void Print() const {
        std::printf("  reader thread: %.1f ms a second without a recording, %.1f ms a second with one; the\n"
                    "  recording's writer %.1f ms a second (the system counts in steps of 10 ms)\n",
                    dReaderMs[0] * 1000.0 / dSpentMs[0], dReaderMs[1] * 1000.0 / dSpentMs[1],
                    dRecorderMs * 1000.0 / dSpentMs[1]);
        long long iLineBytes = 0, iFileBytes = 0;
        double dSeconds = 0;
        LastRecording(&iLineBytes, &dSeconds, &iFileBytes);
        // A minute of the line flat out: its bytes, with the framing this recording's records had.
        const double dMinute = iLineBytes > 0 ? static_cast<double>(iFileBytes) /
                                                    static_cast<double>(iLineBytes) * SPEED / 10.0 * 60.0
                                              : 0.0;
        std::printf(
            "  recording: %lld bytes of the line in %.1f s, file %lld bytes; a minute of the line flat "
            "out: %.0f KB (%d recordings)\n",
            iLineBytes, dSeconds, iFileBytes, dMinute / 1024.0, iRecordings);
    }

  private:
    void EndQuarter(double dNow) {
        if (iCurrent < 0)
            return;
        const bool bWith = iCurrent % 2 == 1;
        dReaderMs[bWith] += ThreadsCpuMs(Reader) - dReaderFrom;
        dSpentMs[bWith] += dNow - dFrom;
        if (dwRecorder != 0)
            dRecorderMs += ThreadCpuMs(dwRecorder);
        if (bWith)
            SwitchRecording(hMain, false);
        iCurrent = -1;
    }

    ChildProcess& Driver;
    HWND hMain;
    double dStart;
    int iSeconds;
    std::set<DWORD> Reader;
    int iCurrent = -1;
    int iRecordings = 0;
    DWORD dwRecorder = 0;
    double dFrom = 0, dReaderFrom = 0;
    double dReaderMs[2] = {}, dSpentMs[2] = {}, dRecorderMs = 0;
};

void FlatOut(int iSeconds, bool bRecordQuarters) {
    ChildProcess Driver;
    DeviceLine Line;
    if (!StartDriver(Driver)) {
        std::printf("flatout: the driver did not attach\n");
        return;
    }
    const HWND hMain = Driver.WaitForWindow("CLASS_Dravik", 5000);
    Line.Write(TRIGGER);
    Pump(1000);
    const double dCpuStart = Driver.CpuMs();

    // Bulk and trigger back to back, written at the line's pace; each trigger's write time kept
    // with its tally, and its receipt looked up as the stand-in reports it.
    struct Trigger {
        int iTally;
        double dWrittenMs;
    };
    std::vector<Trigger> triggers;
    std::vector<double> latencies;
    std::vector<double> slowAt; // when, from the start, the triggers over 40 ms were written
    std::size_t iNextDone = 0;
    TallySequence Tallies;
    const double dStart = NowMs();
    double dLineMs = dStart; // when the bytes written so far are all on the wire
    RecordingQuarters Quarters(Driver, hMain, dStart, iSeconds);
    int nMissed = 0;
    auto Collect = [&](double dNow, bool bFinal) {
        for (; iNextDone < triggers.size(); ++iNextDone) {
            const Trigger& t = triggers[iNextDone];
            if (t.iTally != 0 && dLitMs[t.iTally] >= t.dWrittenMs) {
                latencies.push_back(dLitMs[t.iTally] - t.dWrittenMs);
                if (latencies.back() > 40.0)
                    slowAt.push_back((t.dWrittenMs - dStart) / 1000.0);
                continue;
            }
            // Not lit yet: wait for it while it is young, unless a later trigger has taken it out.
            if (t.iTally != 0 && !bFinal && dNow - t.dWrittenMs < 1000)
                return;
            nMissed += t.iTally != 0;
        }
    };
    for (int i = 0; NowMs() - dStart < iSeconds * 1000.0; ++i) {
        const int iTally = Tallies.Next();
        Bytes bulk = ChangedBlock(i);
        const Bytes root = Root(iTally);
        bulk.insert(bulk.end(), root.begin(), root.end());
        bulk.insert(bulk.end(), TRIGGER.begin(), TRIGGER.end());
        while (NowMs() < dLineMs) {
            Serve();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        }
        Line.Write(bulk);
        dLineMs = std::max(dLineMs, NowMs()) + static_cast<double>(bulk.size()) * BYTE_MS;
        triggers.push_back({iTally, NowMs()});
        Collect(NowMs(), false);
        if (bRecordQuarters)
            Quarters.Step(NowMs());
    }
    const double dWritten = NowMs() - dStart;
    if (bRecordQuarters)
        Quarters.Finish();
    // Served first: reading the processor time takes a while, and the driver's exchanges would
    // wait for this thread meanwhile.
    Pump(3000);
    Collect(NowMs(), true);
    const double dCpuMs = Driver.CpuMs() - dCpuStart;
    if (bRecordQuarters)
        Quarters.Print();
    const long lLost = LostBytes();
    StopDriver(Driver);
    const int iDiffering = DifferingSlots(Line.Sent);

    std::printf("flat out at %d bit/s on COM%d for device %d: %zu bytes, %zu triggers in %.1f s\n", SPEED,
                iDriverPort, iDevice, Line.Sent.size(), triggers.size(), dWritten / 1000.0);
    if (!latencies.empty())
        PrintSpread("tally latency", latencies);
    std::printf("  triggers whose tally was never written lit (taken out by a later one first): %d\n",
                nMissed);
    for (double dAt : slowAt)
        std::printf("  a trigger over 40 ms at %.1f s\n", dAt);
    std::printf("  bytes lost: %ld%s; slots differing from the decoding: %d; driver processor time %.1f%% of "
                "one core\n",
                lLost < 0 ? 0 : lLost, lLost < 0 ? " (an overflow still open)" : "", iDiffering,
                dCpuMs / (dWritten + 3000) * 100.0);
}

int Usage() {
    std::fprintf(stderr, "usage: driver_bench.exe latency <driver COM> <device COM> [triggers]\n"
                         "       driver_bench.exe floor <driver COM> <device COM> [triggers]\n"
                         "       driver_bench.exe flatout <driver COM> <device COM> <device> [seconds] "
                         "[--record]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const std::string sMode = argv[1];
    iDriverPort = std::atoi(argv[2]);
    iDevicePort = std::atoi(argv[3]);
    char szTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    if (sMode == "flatout") {
        if (argc < 5)
            return Usage();
        iDevice = std::atoi(argv[4]);
    } else if (sMode != "latency" && sMode != "floor") {
        return Usage();
    }
    sRoot = std::string(szTemp) + "dravik_bench_" + std::to_string(iDevice);
    if (!standin::Start(iDevice, OnStandinLine)) {
        std::fprintf(stderr, "driver_bench: no stand-in window\n");
        return 1;
    }
    if (sMode == "latency")
        Latency(argc > 4 ? std::atoi(argv[4]) : 500);
    else if (sMode == "floor")
        FloorComparison(argc > 4 ? std::atoi(argv[4]) : 300);
    else
        FlatOut(argc > 5 ? std::atoi(argv[5]) : 60, argc > 6 && std::strcmp(argv[6], "--record") == 0);
    std::fflush(stdout);
    standin::Stop();
    return 0;
}
