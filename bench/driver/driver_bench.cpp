// The driver end to end: the real dravik.exe reading one end of a null-modem pair, this program
// writing the device's bytes into the other end and serving as the driver's infodriver (the
// stand-in's core on this thread), so that one clock times both the line and the receipt.
//
//   scripts/bench.sh driver        (makes the pair COM7 <-> COM8 and runs this)
//   driver_bench.exe <driver COM> <device COM> [triggers] [seconds]
//
// 1. Latency at 38400 bit/s: from the write of a tally trigger to the receipt of the newly lit
//    tally's slot, over many triggers, split into the time before the driver's first exchange
//    (line, read interval, notification) and the exchanges themselves; in blocks without and
//    with a line recording running (Debug, Record line) in turn, in the same run.
// 2. Throughput: the bundled show's byte stream sent flat out, looped, at 38400 and 115200 bit/s;
//    messages per second, bytes lost, and whether the slots equal an in-memory decoding. The
//    quarters of the run go without and with a line recording in turn: the processor time of the
//    driver's reader thread (and of the recording's writer) in each, and the recording's size.
#include "protocol/assembly.h"
#include "protocol/state.h"
#include "tests/support/child.h"
#include "tests/support/process_usage.h"
#include "tools/memhost/memhost.h"
#include "tools/memhost/streamfile.h"
#include "tools/standin/standin.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int DEVICE = 77;
int iDriverPort = 7, iDevicePort = 8;
std::string sRoot; // CC_ROOT of the bench: settings and log under it

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The stand-in's event lines, as they happen: the time of the first exchange since a mark, and of
// each tally slot written "1".
double dFirstEventMs = 0;
double dLitMs[129] = {};
double dLastPollMs = 0; // the driver's latest redundancy poll: its one-second tick
long lEvents = 0;
void OnStandinLine(const char* pszLine) {
    const double dNow = NowMs();
    ++lEvents;
    if (std::strncmp(pszLine, "redundancy ", 11) == 0)
        dLastPollMs = dNow;
    if (dFirstEventMs == 0 &&
        (std::strncmp(pszLine, "read ", 5) == 0 || std::strncmp(pszLine, "write ", 6) == 0))
        dFirstEventMs = dNow;
    int iSlot = 0, iMessage = 0;
    char szClient[32], szText[8] = "";
    if (std::sscanf(pszLine, "write %d %d %31s %7s", &iSlot, &iMessage, szClient, szText) == 4 &&
        iSlot >= 1 && iSlot <= 128 && std::strcmp(szText, "1") == 0)
        dLitMs[iSlot] = dNow;
}

void Pump(DWORD dwMs) {
    const DWORD dwEnd = GetTickCount() + dwMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        const DWORD dwNow = GetTickCount();
        if (static_cast<int>(dwEnd - dwNow) <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwEnd - dwNow, QS_ALLINPUT);
    }
}

template <typename Done>
bool PumpUntil(Done bDone, DWORD dwMs) {
    const DWORD dwEnd = GetTickCount() + dwMs;
    while (!bDone()) {
        if (static_cast<int>(dwEnd - GetTickCount()) <= 0)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (!bDone())
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

// The device's end of the pair, 8N1 at the given speed.
class DeviceLine {
  public:
    explicit DeviceLine(int iSpeed) {
        char szPath[32];
        std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", iDevicePort);
        hCom = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (hCom != INVALID_HANDLE_VALUE && GetCommState(hCom, &dcb)) {
            dcb.BaudRate = static_cast<DWORD>(iSpeed);
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
    bool IsOpen() const { return hCom != INVALID_HANDLE_VALUE; }
    void Write(const std::vector<unsigned char>& bytes) {
        DWORD dwWritten = 0;
        WriteFile(hCom, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    }

  private:
    HANDLE hCom = INVALID_HANDLE_VALUE;
};

std::string LogPath() {
    return sRoot + "\\sys\\logs\\Dravik_077.log";
}

// A fresh settings file for the speed, an empty log, and the driver started against the stand-in.
bool StartDriver(ChildProcess& Driver, int iSpeed) {
    const std::string sConfig = sRoot + "\\sys\\config\\system";
    CreateDirectoryA(sRoot.c_str(), nullptr);
    CreateDirectoryA((sRoot + "\\sys").c_str(), nullptr);
    CreateDirectoryA((sRoot + "\\sys\\config").c_str(), nullptr);
    CreateDirectoryA(sConfig.c_str(), nullptr);
    CreateDirectoryA((sRoot + "\\sys\\logs").c_str(), nullptr);
    DeleteFileA(LogPath().c_str());
    std::ofstream ini(sConfig + "\\DEV_077.ini", std::ios::trunc);
    ini << "[Dravik]\nLogMode=1\nDebugMode=0\nPort=" << iDriverPort << "\nSpeed=" << iSpeed << "\n";
    ini.close();
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, (sConfig + "\\DEV_077.ini").c_str());
    SetEnvironmentVariableA("CC_ROOT", sRoot.c_str());
    SetEnvironmentVariableA("CC_SYSTEM", "sys");
    if (!Driver.Start(DRAVIK_EXE, std::to_string(DEVICE)))
        return false;
    // Attached, then the port open and the first redundancy poll answered.
    return PumpUntil([] { return standin::ClientCount() > 0; }, 20000) &&
           PumpUntil([] { return lEvents > 3; }, 5000);
}

void StopDriver(ChildProcess& Driver) {
    standin::SendToClients(2175, 0);
    Pump(300);
    if (Driver.Wait(5000) == STILL_ACTIVE)
        Driver.Kill();
}

// Output message 1 with number 1 = the tally and its flag set: that tally is the only root.
std::vector<unsigned char> Root(int iTally) {
    return {0xB1, 0xB1, static_cast<unsigned char>(iTally), 0, 0, 1, 0, 0, 0, 0, 0, 0};
}

double Percentile(std::vector<double> values, double dFraction) {
    std::sort(values.begin(), values.end());
    const std::size_t i = static_cast<std::size_t>(dFraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[i];
}

constexpr double SLOW_MS = 15.0;
constexpr WPARAM RECORD_COMMAND = 32777; // Debug, Record line
constexpr int LATENCY_BLOCK = 100;       // triggers between switching the recording on or off

int LogCount(const char* pszText) {
    std::ifstream log(LogPath());
    std::string sLine;
    int n = 0;
    while (std::getline(log, sLine))
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
    std::string sLine, sLast;
    while (std::getline(log, sLine))
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
            return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 1e4;
        };
        dMs = Ms(ftKernel) + Ms(ftUser);
    }
    if (hThread != nullptr)
        CloseHandle(hThread);
    return dMs;
}

// The processor time of a set of threads.
double ThreadsCpuMs(const std::set<DWORD>& Threads) {
    double dMs = 0;
    for (DWORD dwId : Threads)
        dMs += ThreadCpuMs(dwId);
    return dMs;
}

struct LatencySamples {
    std::vector<double> total, before, exchanges;
    // The slow ones, to tell the driver's own work (its tick) from waiting for a processor.
    int nSlow = 0, nSlowWithTick = 0, nSlowBefore = 0;
};

void PrintLatency(const char* pszWhat, const LatencySamples& s) {
    if (s.total.empty())
        return;
    const auto iLate = std::count_if(s.total.begin(), s.total.end(), [](double d) { return d > 40.0; });
    std::printf(" %s, %zu triggers:\n", pszWhat, s.total.size());
    std::printf("  total       p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms  over 40 ms: %ld\n",
                Percentile(s.total, 0.5), Percentile(s.total, 0.99),
                *std::max_element(s.total.begin(), s.total.end()), static_cast<long>(iLate));
    std::printf("  to the first exchange (line, read interval, notification, framing)\n"
                "              p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms\n",
                Percentile(s.before, 0.5), Percentile(s.before, 0.99),
                *std::max_element(s.before.begin(), s.before.end()));
    std::printf("  exchanges (write of the tally going out, read and write of the new one)\n"
                "              p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms\n",
                Percentile(s.exchanges, 0.5), Percentile(s.exchanges, 0.99),
                *std::max_element(s.exchanges.begin(), s.exchanges.end()));
    std::printf("  over %.0f ms: %d, of which %d had the driver's tick inside them and %d lost most of\n"
                "              their time before the first exchange\n",
                SLOW_MS, s.nSlow, s.nSlowWithTick, s.nSlowBefore);
}

void Latency(int iTriggers) {
    ChildProcess Driver;
    if (!StartDriver(Driver, 38400)) {
        std::printf("latency: the driver did not attach\n");
        return;
    }
    HWND hMain = Driver.WaitForWindow("CLASS_Dravik", 5000);
    DeviceLine Line(38400);
    // The first trigger publishes all 128 tallies; wait for it to settle.
    std::fill(std::begin(dLitMs), std::end(dLitMs), 0.0);
    Line.Write(Root(6));
    Pump(100);
    Line.Write({0xD2, 0xD2});
    PumpUntil([] { return dLitMs[6] != 0; }, 10000);
    Pump(500);

    LatencySamples Samples[2]; // without, with a recording
    bool bRecording = false;
    for (int i = 0; i < iTriggers; ++i) {
        // Blocks without, with, with, without, ...: a drift over the run weighs on both alike.
        const int iBlock = i / LATENCY_BLOCK;
        const bool bWith = iBlock % 4 == 1 || iBlock % 4 == 2;
        if (bWith != bRecording) {
            if (!SwitchRecording(hMain, bWith))
                std::printf("latency: the recording did not switch %s\n", bWith ? "on" : "off");
            bRecording = bWith;
            Pump(200);
        }
        LatencySamples& s = Samples[bRecording ? 1 : 0];
        // Alternately 5 and 6: the new one is lit and the other goes out, 5 first in number order.
        const int iTally = i % 2 == 0 ? 5 : 6;
        Line.Write(Root(iTally));
        const long lMark = lEvents;
        // The output message is decoded (one slot changes) before the trigger is written.
        PumpUntil([lMark] { return lEvents >= lMark + 14; }, 2000);
        Pump(5);
        dLitMs[iTally] = 0;
        dFirstEventMs = 0;
        const double dStart = NowMs();
        Line.Write({0xD2, 0xD2});
        if (!PumpUntil([iTally] { return dLitMs[iTally] != 0; }, 5000)) {
            std::printf("latency: trigger %d was not published\n", i);
            continue;
        }
        s.total.push_back(dLitMs[iTally] - dStart);
        if (s.total.back() > SLOW_MS) {
            ++s.nSlow;
            s.nSlowWithTick += dLastPollMs >= dStart && dLastPollMs <= dLitMs[iTally];
            s.nSlowBefore += dFirstEventMs - dStart > dLitMs[iTally] - dFirstEventMs;
        }
        s.before.push_back(dFirstEventMs - dStart);
        s.exchanges.push_back(dLitMs[iTally] - dFirstEventMs);
    }
    if (bRecording)
        SwitchRecording(hMain, false);
    StopDriver(Driver);
    std::printf("latency at 38400 bit/s (trigger written -> newly lit tally received), in blocks of %d\n"
                "triggers without and with a recording in turn (ABBA):\n",
                LATENCY_BLOCK);
    PrintLatency("without a recording", Samples[0]);
    PrintLatency("with the line recorded", Samples[1]);
    std::printf("  floor: 2 bytes on the wire 0.52 ms + read interval 2 ms + 3 1/2 exchanges\n");
}

// The driver's serial Rx count, read from its status panel.
int DriverRxCount(HWND hMain) {
    HWND hPanel = FindWindowExA(hMain, nullptr, "#32770", nullptr);
    char szText[32] = "";
    if (hPanel != nullptr)
        GetDlgItemTextA(hPanel, 2008, szText, sizeof szText);
    return std::atoi(szText);
}

// Bytes the driver reported lost: its overflow lines in the log.
long LostBytes() {
    std::ifstream log(LogPath());
    std::string sLine;
    long lLost = 0;
    while (std::getline(log, sLine)) {
        const std::size_t i = sLine.find("overflow over - ");
        if (i != std::string::npos)
            lLost += std::atol(sLine.c_str() + i + 16);
        else if (sLine.find("Receive queue full") != std::string::npos && lLost == 0)
            lLost = -1; // an episode still open at the end
    }
    return lLost;
}

void Throughput(const std::vector<unsigned char>& show, int iSpeed, int iSeconds) {
    ChildProcess Driver;
    if (!StartDriver(Driver, iSpeed)) {
        std::printf("throughput: the driver did not attach\n");
        return;
    }
    HWND hMain = Driver.WaitForWindow("CLASS_Dravik", 5000);
    // Shown once its start-up is over: the port and its reader are there.
    PumpUntil([hMain] { return IsWindowVisible(hMain) != FALSE; }, 10000);
    // The reader: every thread but the window's, before the recording's writer joins them.
    std::set<DWORD> Reader = ThreadIdsOf(Driver.Id());
    Reader.erase(GetWindowThreadProcessId(hMain, nullptr));
    DeviceLine Line(iSpeed);
    // The writer keeps the line's pace; this thread serves the driver's exchanges meanwhile.
    std::vector<unsigned char> sent;
    std::atomic<bool> bDone{false};
    const double dStart = NowMs();
    std::thread writer([&] {
        const double dBytesPerMs = iSpeed / 10000.0;
        std::size_t nSent = 0;
        while (NowMs() - dStart < iSeconds * 1000.0) {
            const std::size_t nDue = static_cast<std::size_t>((NowMs() - dStart) * dBytesPerMs);
            std::vector<unsigned char> chunk;
            while (nSent < nDue)
                chunk.push_back(show[nSent++ % show.size()]);
            if (!chunk.empty()) {
                Line.Write(chunk);
                sent.insert(sent.end(), chunk.begin(), chunk.end());
            }
            Sleep(5);
        }
        bDone = true;
    });
    // Quarters without and with a recording in turn, so that a backlog that grows over the run
    // weighs on both alike; the reader's and the writer's time in each.
    double dReaderMs[2] = {}, dSpentMs[2] = {}, dRecorderMs = 0;
    int iRecordings = 0;
    for (int iQuarter = 0; iQuarter < 4; ++iQuarter) {
        const bool bWith = iQuarter % 2 == 1;
        const std::set<DWORD> Before = ThreadIdsOf(Driver.Id());
        if (bWith)
            iRecordings += SwitchRecording(hMain, true);
        const DWORD dwRecorder = bWith ? NewThread(Before, ThreadIdsOf(Driver.Id())) : 0;
        const double dFrom = NowMs(), dReaderFrom = ThreadsCpuMs(Reader);
        PumpUntil([&] { return NowMs() - dStart >= iSeconds * 250.0 * (iQuarter + 1) || bDone.load(); },
                  static_cast<DWORD>(iSeconds) * 1000);
        dReaderMs[bWith] += ThreadsCpuMs(Reader) - dReaderFrom;
        dSpentMs[bWith] += NowMs() - dFrom;
        if (dwRecorder != 0)
            dRecorderMs += ThreadCpuMs(dwRecorder);
        // The second recording is the one kept for its size.
        if (bWith && iQuarter < 3)
            SwitchRecording(hMain, false);
    }
    PumpUntil([&] { return bDone.load(); }, 5000);
    writer.join();
    const double dWritten = NowMs() - dStart;
    // Until the driver has worked through what it holds.
    int iLast = -1, iSteady = 0;
    while (iSteady < 3 && NowMs() - dStart < dWritten + 600000) {
        Pump(1000);
        const int iNow = DriverRxCount(hMain);
        iSteady = iNow == iLast ? iSteady + 1 : 0;
        iLast = iNow;
    }
    const double dAll = NowMs() - dStart - 3000;

    // The same bytes through the protocol core in memory.
    ResetProtocolState();
    memhost::Reset();
    memhost::ResetShell();
    memhost::SetRecording(false);
    memhost::SetDiagnostics(false, false);
    for (std::size_t p = 0; p < sent.size(); p += RECEIVE_CHUNK) {
        memhost::QueueBytes(sent.data() + p, std::min<std::size_t>(RECEIVE_CHUNK, sent.size() - p));
        do
            ReceiveFromPort(nullptr);
        while (ReceiveWaiting());
    }
    int iDiffering = 0;
    for (int iSlot = 1; iSlot < 4089; ++iSlot)
        iDiffering += memhost::SlotText(iSlot) != standin::SlotText(iSlot);
    const long lLost = LostBytes();
    std::printf("throughput at %6d bit/s: %zu bytes in %.1f s (%d messages sent, %d framed, %.0f messages/s "
                "over %.1f s until idle)\n",
                iSpeed, sent.size(), dWritten / 1000.0, iSerialRxCount, iLast, iLast / (dAll / 1000.0),
                dAll / 1000.0);
    std::printf("  bytes lost: %ld%s; slots equal to the in-memory decoding: %s (%d differ)\n",
                lLost < 0 ? 0 : lLost, lLost < 0 ? " (an overflow still open)" : "",
                iDiffering == 0 ? "yes" : "no", iDiffering);
    // Per second of the line: the quarters are not quite equal.
    std::printf("  reader thread (%zu thread%s): %.1f ms a second without a recording, %.1f ms a second with "
                "one;\n  the recording's writer %.1f ms a second (the system counts in steps of 10 ms)\n",
                Reader.size(), Reader.size() == 1 ? "" : "s", dReaderMs[0] * 1000.0 / dSpentMs[0],
                dReaderMs[1] * 1000.0 / dSpentMs[1], dRecorderMs * 1000.0 / dSpentMs[1]);
    if (iRecordings == 2 && SwitchRecording(hMain, false)) {
        long long iLineBytes = 0, iFileBytes = 0;
        double dSeconds = 0;
        LastRecording(&iLineBytes, &dSeconds, &iFileBytes);
        // A minute of the line flat out: its bytes, with the framing this recording's records had.
        const double dMinute = iLineBytes > 0 ? static_cast<double>(iFileBytes) / static_cast<double>(iLineBytes) *
                                                    iSpeed / 10.0 * 60.0
                                              : 0.0;
        std::printf("  recording: %lld bytes of the line in %.1f s, file %lld bytes; a minute of the line flat "
                    "out: %.0f bytes (%.0f KB)\n",
                    iLineBytes, dSeconds, iFileBytes, dMinute, dMinute / 1024.0);
    } else {
        std::printf("  recording: did not start or complete\n");
    }
    StopDriver(Driver);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: driver_bench.exe <driver COM> <device COM> [triggers] [seconds]\n");
        return 2;
    }
    iDriverPort = std::atoi(argv[1]);
    iDevicePort = std::atoi(argv[2]);
    const int iTriggers = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int iSeconds = argc > 4 ? std::atoi(argv[4]) : 30;
    char szTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, szTemp);
    sRoot = std::string(szTemp) + "dravik_bench";

    std::vector<unsigned char> show;
    std::string sError;
    if (LoadStreamFile(SHOW_HEX, show, sError) != 0) {
        std::fprintf(stderr, "driver_bench: %s\n", sError.c_str());
        return 1;
    }
    if (!standin::Start(DEVICE, OnStandinLine)) {
        std::fprintf(stderr, "driver_bench: no stand-in window\n");
        return 1;
    }
    standin::SetQuiet(false);
    Latency(iTriggers);
    std::fflush(stdout);
    standin::SetQuiet(true);
    for (int iSpeed : {38400, 115200}) {
        standin::Stop();
        standin::Start(DEVICE, OnStandinLine);
        standin::SetQuiet(true);
        Throughput(show, iSpeed, iSeconds);
        std::fflush(stdout);
    }
    standin::Stop();
    return 0;
}
