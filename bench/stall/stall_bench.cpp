// The real driver flat out while its infodriver stalls: the bytes that arrive meanwhile wait in
// the driver's receive queue, and once the infodriver answers again they are framed and published.
//
//   scripts/bench.sh stall                  (makes the pair COM7 <-> COM8 and runs every case)
//   stall_bench.exe <driver COM> <device COM> <speed> <stall seconds>
//   (DRAVIK_BENCH_DRIVER names another build's dravik.exe, to compare it with this one in one run)
//
// The stand-in process is the infodriver, without a delay of its own; dravik.exe reads the driver
// COM port at the given speed; this program writes the other end flat out with every kind of
// message but output messages (which name tally roots), so that no tally is lit until the probe.
// After 10 s the stand-in is told to stall its next answer for the given time. The moment it
// answers again, a probe goes onto the line: an output message naming tally 50, a trigger, and a
// text of its own. The line goes on flat out until the text has been published and 5 s more.
// Printed: bytes lost (the driver's overflow lines), slots differing from an in-memory decoding
// at the end, the time from the end of the stall until the probe's text was published (publishing
// has caught up with the backlog), the latency of the probe's tally (the first tally the device
// lit after the stall), the longest the driver's window took to answer a message sent to it every
// 10 ms during the catch-up (a sent message waits for the window's thread to look at its queue),
// and the driver's working set idle at the start, after the backlog, and 15 s later, once the
// receive queue has given back the pages the backlog took.
#include "tests/support/driver_run.h"
#include "tests/support/driver_site.h"
#include "tests/support/process_usage.h"
#include "tests/support/published_check.h"
#include "tests/support/random_stream.h"
#include "tools/devsim/messages.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int DEVICE = 78;
constexpr int BITS_PER_BYTE = 10;
constexpr double BATCH_SECONDS = 0.025;
constexpr DWORD BEFORE_STALL_MS = 10000;
constexpr DWORD AFTER_CAUGHT_UP_MS = 5000;
constexpr DWORD RELEASE_WAIT_MS = 15000; // beyond the receive queue's 10 s before it gives pages back
constexpr DWORD CATCH_UP_LIMIT_MS = 15 * 60 * 1000;
constexpr int PROBE_TALLY = 50;
constexpr int PROBE_TEXT_INDEX = 254;
//                          block group short output text marker trigger garbage
constexpr StreamMix FLOOD_MIX = {1, 1, 1, 0, 1, 1, 1, 0};

// The index of the first line from iFrom that starts with sPrefix, or -1.
long FindFrom(const std::vector<std::string>& Lines, const std::string& sPrefix, std::size_t iFrom) {
    for (std::size_t i = iFrom; i < Lines.size(); ++i)
        if (Lines[i].rfind(sPrefix, 0) == 0)
            return static_cast<long>(i);
    return -1;
}

long long LostBytes(const std::string& sLog) {
    long long iLost = 0;
    const std::string sLine = "Receive queue overflow over - ";
    for (std::size_t i = sLog.find(sLine); i != std::string::npos; i = sLog.find(sLine, i + 1))
        iLost += std::atoll(sLog.c_str() + i + sLine.size());
    if (iLost == 0 && sLog.find("Receive queue full") != std::string::npos)
        iLost = -1; // an episode still open
    return iLost;
}

// The longest answer of the window to a message sent to it every 10 ms, until stopped.
class LoopWatch {
  public:
    explicit LoopWatch(HWND hWnd)
        : Thread([this, hWnd] {
              while (!bStop) {
                  const DWORD dwSent = GetTickCount();
                  DWORD_PTR dwResult = 0;
                  SendMessageTimeoutA(hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &dwResult);
                  const DWORD dwTaken = GetTickCount() - dwSent;
                  if (dwTaken > dwLongest)
                      dwLongest = dwTaken;
                  Sleep(10);
              }
          }) {}
    DWORD Stop() {
        bStop = true;
        Thread.join();
        return dwLongest;
    }

  private:
    std::atomic<bool> bStop{false};
    std::atomic<DWORD> dwLongest{0};
    std::thread Thread;
};

int Fail(const std::string& sWhy) {
    std::printf("stall: FAILED: %s\n", sWhy.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: stall_bench.exe <driver COM> <device COM> <speed> <stall seconds>\n", stderr);
        return 2;
    }
    const int iDriverPort = std::atoi(argv[1]);
    const int iDevicePort = std::atoi(argv[2]);
    const int iSpeed = std::atoi(argv[3]);
    const int iStallSeconds = std::atoi(argv[4]);
    const int iLineBytesPerSecond = iSpeed / BITS_PER_BYTE;
    const std::size_t nBatch = static_cast<std::size_t>(iLineBytesPerSecond * BATCH_SECONDS);

    DriverSite Site;
    if (!Site.Create("stallbench", DEVICE, DriverKeys(iDriverPort, false, iSpeed)))
        return Fail("cannot make the driver's settings");
    DriverRun Run;
    std::string sError;
    if (!Run.Start(BenchDriverExe(DRAVIK_EXE), STANDIN_EXE, DEVICE, sError, "-q "))
        return Fail(sError);
    devsim::Line Device;
    devsim::LineSettings Settings;
    Settings.iPort = iDevicePort;
    Settings.iSpeed = iSpeed;
    if (!Device.Open(Settings, sError))
        return Fail(sError);
    Sleep(2000);
    const ProcessUsage Idle = SteadyUsageOf(Run.Driver.Handle(), Run.Driver.Id());

    RandomStream Source(20261209u + static_cast<unsigned>(iSpeed) + static_cast<unsigned>(iStallSeconds),
                        FLOOD_MIX, LINE_RATE_REPEAT_PERCENT);
    std::vector<unsigned char> Sent;
    auto Flood = [&] {
        StreamBytes Batch;
        while (Batch.size() < nBatch) {
            const StreamBytes Item = Source.Next();
            Batch.insert(Batch.end(), Item.begin(), Item.end());
        }
        return SendKept(Device, Batch, Sent);
    };
    for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < BEFORE_STALL_MS;)
        if (!Flood())
            return Fail("a write to the device port failed");

    std::size_t iFrom = Run.Standin.LineCount();
    Run.Standin.Send("stall " + std::to_string(iStallSeconds * 1000));
    long iOver = -1;
    while ((iOver = FindFrom(Run.Standin.Lines(), "stall-over ", iFrom)) < 0) {
        if (!Flood())
            return Fail("a write to the device port failed");
        if (!Run.Driver.Running())
            return Fail("the driver ended during the stall");
    }
    const DWORD dwStallOver = Run.Standin.LineTimes()[static_cast<std::size_t>(iOver)];
    LoopWatch Watch(Run.hMain);
    iFrom = static_cast<std::size_t>(iOver);
    Run.Standin.Send("quiet 0");

    // The probe: the first tally the device lights after the stall, and a text behind everything.
    const std::string sProbeText = "PROBE " + std::to_string(Sent.size());
    StreamBytes Probe = {0xB1, 0xB1, PROBE_TALLY, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xD2, 0xD2};
    const devsim::Bytes Text = devsim::TextMessage(PROBE_TEXT_INDEX, sProbeText, sError);
    Probe.insert(Probe.end(), Text.begin(), Text.end());
    if (!SendKept(Device, Probe, Sent))
        return Fail("a write to the device port failed");
    const DWORD dwProbeWritten = GetTickCount();

    const std::string sTallyLine = "write " + std::to_string(PROBE_TALLY) + " ";
    const std::string sTextLine = "write " + std::to_string(TEXT_BASE + PROBE_TEXT_INDEX) + " ";
    long iLit = -1, iCaughtUp = -1;
    DWORD dwCaughtUp = 0;
    std::size_t iScanned = iFrom;
    while (iCaughtUp < 0 || GetTickCount() - dwCaughtUp < AFTER_CAUGHT_UP_MS) {
        // A look at the stand-in's lines every quarter of a second: they pile up once it speaks.
        for (const DWORD dwBatches = GetTickCount(); GetTickCount() - dwBatches < 250;)
            if (!Flood())
                return Fail("a write to the device port failed");
        if (GetTickCount() - dwProbeWritten > CATCH_UP_LIMIT_MS)
            return Fail("publishing did not catch up within 15 minutes");
        const std::vector<std::string> Lines = Run.Standin.Lines();
        for (std::size_t& i = iScanned; i < Lines.size() && (iLit < 0 || iCaughtUp < 0); ++i) {
            if (iLit < 0 && Lines[i].rfind(sTallyLine, 0) == 0 && Lines[i].size() > 2 &&
                Lines[i].compare(Lines[i].size() - 2, 2, " 1") == 0)
                iLit = static_cast<long>(i);
            if (iCaughtUp < 0 && Lines[i].rfind(sTextLine, 0) == 0 &&
                Lines[i].find(sProbeText) != std::string::npos) {
                iCaughtUp = static_cast<long>(i);
                dwCaughtUp = Run.Standin.LineTimes()[i];
            }
        }
    }
    const DWORD dwLongestAnswer = Watch.Stop();
    const std::vector<DWORD> Times = Run.Standin.LineTimes();
    const DWORD dwLit = iLit >= 0 ? Times[static_cast<std::size_t>(iLit)] : 0;
    const std::size_t nFlooded = Sent.size();

    std::string sReport;
    const std::size_t nDiffering = CheckPublished(Run.Standin, Device, Sent, 1999, 120000, &sReport);
    const ProcessUsage After = SteadyUsageOf(Run.Driver.Handle(), Run.Driver.Id());
    // Once the queue has stayed small long enough, the pages the backlog took are given back.
    for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < RELEASE_WAIT_MS;)
        if (!Flood())
            return Fail("a write to the device port failed");
    const ProcessUsage Released = SteadyUsageOf(Run.Driver.Handle(), Run.Driver.Id());
    const std::string sLog = Site.LogText();
    const long long iLost = LostBytes(sLog);
    std::string sSlow = "none";
    const std::size_t iSlow = sLog.find("Infodriver ");
    if (iSlow != std::string::npos && sLog.find(" to answer", iSlow) != std::string::npos)
        sSlow = sLog.substr(iSlow, sLog.find_first_of("\r\n", iSlow) - iSlow);

    std::printf("stall of %d s at %d bit/s (%d bytes/s), flat out: %zu bytes sent, backlog %.0f KB at the "
                "stall's end\n",
                iStallSeconds, iSpeed, iLineBytesPerSecond, nFlooded,
                iLineBytesPerSecond * static_cast<double>(iStallSeconds) / 1024.0);
    std::printf("  bytes lost %lld, slots differing %s\n", iLost < 0 ? 0 : iLost,
                nDiffering == END_NOT_SEEN ? "unknown (the end text never came)"
                                           : std::to_string(nDiffering).c_str());
    std::printf(
        "  caught up %.1f s after the stall ended; first tally after the stall lit %s\n",
        (dwCaughtUp - dwStallOver) / 1000.0,
        iLit >= 0 ? (std::to_string((dwLit - dwProbeWritten) / 1000.0).substr(0, 5) + " s after its trigger")
                        .c_str()
                  : "never");
    std::printf("  the window's longest answer to a sent message during the catch-up: %lu ms\n",
                static_cast<unsigned long>(dwLongestAnswer));
    std::printf(
        "  working set idle %.2f MB, after the backlog %.2f MB, %lu s later %.2f MB (private %.2f -> %.2f -> "
        "%.2f MB)\n",
        Megabytes(Idle.nWorkingSet), Megabytes(After.nWorkingSet), RELEASE_WAIT_MS / 1000,
        Megabytes(Released.nWorkingSet), Megabytes(Idle.nPrivate), Megabytes(After.nPrivate),
        Megabytes(Released.nPrivate));
    std::printf("  the log: %s\n", sSlow.c_str());
    if (nDiffering != 0 && nDiffering != END_NOT_SEEN)
        std::printf("%s\n", sReport.c_str());
    Run.Stop();
    return 0;
}
