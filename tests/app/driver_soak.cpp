// driver_soak: the real driver for a long run, started by scripts/soak.sh.
//
//   driver_soak.exe --seconds N --driver-port A --device-port B --out DIR [--seed S] [--mix W,...]
//                   [--speed BITS] [--delay-us US] [--repeats PERCENT] [--stall-at S --stall-ms MS]
//
// The stand-in process is the infodriver (quiet: no line per exchange; with --delay-us each of its
// answers takes that long, an infodriver busy with the rest of the control system), dravik.exe
// reads COM<A>, and this program writes COM<B> at the full line rate (--speed, 38400 bit/s by
// default) for N seconds: a seeded random stream of every kind of message, with values from small
// sets and mostly repeated messages (--repeats, 75 %; a repeat costs the driver one slot read per
// value, a change a write as well), and now and then garbage. --mix sets the weights of block,
// group, short, output, text, marker, trigger and garbage. With --stall-at the infodriver stalls
// for --stall-ms once the stream has run that many seconds, and the line goes on meanwhile. The
// exact bytes go to
// DIR\stream-<seed>.bin. At the end every slot in the stand-in must equal the in-memory decoding
// of those bytes, the log must have no overflow line, and the driver's memory and handles, taken
// from outside after a warm-up and at the end of the stream, must not have grown. Exit code 0
// when all holds.
#include "protocol/commissioning_texts.h"
#include "tests/support/driver_run.h"
#include "tests/support/driver_site.h"
#include "tests/support/process_usage.h"
#include "tests/support/published_check.h"
#include "tests/support/random_stream.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int DEVICE = 76;
constexpr int LAST_COMPARED_SLOT = 1999;
constexpr int BITS_PER_BYTE = 10;       // start, eight data bits, stop
constexpr double BATCH_SECONDS = 0.025; // the stream is written in pieces of this much of the line
constexpr StreamMix SOAK_MIX = LINE_RATE_MIX;
constexpr const char* MIX_NAMES = "block, group, short, output, text, marker, trigger, garbage";
constexpr int REPEAT_PERCENT = LINE_RATE_REPEAT_PERCENT;
constexpr int SPEED = 38400;
// What counts as growth between the two samples: pages the heap keeps for itself come and go.
constexpr SIZE_T MEMORY_SLACK = 512 * 1024;
constexpr DWORD HANDLE_SLACK = 0;
constexpr int DEBUG_LIST_FILL = 520;  // unrecognised pairs, each a line in the debug list
constexpr DWORD CATCH_UP_MS = 120000; // for the driver to publish what it still had at the end

struct Options {
    int iSeconds = 600;
    int iDriverPort = 11;
    int iDevicePort = 12;
    unsigned uSeed = 0;
    bool bSeed = false;
    std::string sOut = ".";
    StreamMix Mix = SOAK_MIX;
    int iSpeed = SPEED;
    unsigned uDelayUs = 0;
    int iRepeats = REPEAT_PERCENT;
    int iStallAt = -1; // seconds into the stream; -1: no stall
    unsigned uStallMs = 0;
};

// "W,W,W,W,W,W,W,W" in the order of MIX_NAMES.
bool ParseMix(const char* pszText, StreamMix& Mix) {
    int iTotal = 0;
    for (int k = 0; k < ITEM_KINDS; ++k) {
        char* pEnd = nullptr;
        const long lWeight = std::strtol(pszText, &pEnd, 10);
        if (pEnd == pszText || lWeight < 0 || *pEnd != (k + 1 < ITEM_KINDS ? ',' : '\0'))
            return false;
        Mix[static_cast<std::size_t>(k)] = static_cast<int>(lWeight);
        iTotal += static_cast<int>(lWeight);
        pszText = pEnd + 1;
    }
    return iTotal > 0;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string sName = argv[i];
        const char* pszValue = argv[i + 1];
        if (sName == "--seconds")
            o.iSeconds = std::atoi(pszValue);
        else if (sName == "--driver-port")
            o.iDriverPort = std::atoi(pszValue);
        else if (sName == "--device-port")
            o.iDevicePort = std::atoi(pszValue);
        else if (sName == "--seed") {
            o.uSeed = static_cast<unsigned>(std::strtoul(pszValue, nullptr, 0));
            o.bSeed = true;
        } else if (sName == "--out")
            o.sOut = pszValue;
        else if (sName == "--speed")
            o.iSpeed = std::atoi(pszValue);
        else if (sName == "--delay-us")
            o.uDelayUs = static_cast<unsigned>(std::strtoul(pszValue, nullptr, 10));
        else if (sName == "--repeats")
            o.iRepeats = std::atoi(pszValue);
        else if (sName == "--stall-at")
            o.iStallAt = std::atoi(pszValue);
        else if (sName == "--stall-ms")
            o.uStallMs = static_cast<unsigned>(std::strtoul(pszValue, nullptr, 10));
        else if (sName != "--mix" || !ParseMix(pszValue, o.Mix))
            return false;
    }
    return argc % 2 == 1 && o.iSeconds > 0 && o.iDriverPort > 0 && o.iDevicePort > 0 && o.iSpeed > 0 &&
           o.iRepeats >= 0 && o.iRepeats <= 100;
}

void PrintUsage(const char* pszWhen, double dSeconds, const ProcessUsage& Usage) {
    std::printf("soak: %-6s %6.0f s  working set %7.2f MB  private %7.2f MB  handles %lu\n", pszWhen,
                dSeconds, Megabytes(Usage.nWorkingSet), Megabytes(Usage.nPrivate), Usage.dwHandles);
    std::fflush(stdout);
}

ProcessUsage SteadyUsage(const ChildProcess& Driver) {
    return SteadyUsageOf(Driver.Handle(), Driver.Id());
}

// Once the stall is over: "tally N" or "slot N", the first slot the driver published after it,
// leaving out a slot whose exchange the stall may have held (the first after it, and the write
// that completes it); "" while not yet seen.
std::string FirstReadAfterStall(const std::vector<std::string>& Lines, std::size_t iFrom) {
    std::size_t i = iFrom;
    while (i < Lines.size() && Lines[i].rfind("stall-over ", 0) != 0)
        ++i;
    int iHeld = -1;
    for (++i; i < Lines.size(); ++i) {
        int iSlot = 0;
        char szKind[8] = "";
        if (std::sscanf(Lines[i].c_str(), "%7s %d", szKind, &iSlot) != 2 ||
            (std::strcmp(szKind, "read") != 0 && std::strcmp(szKind, "write") != 0))
            continue;
        if (iSlot >= 1 && iSlot <= 128)
            return "tally " + std::to_string(iSlot);
        if (iHeld < 0)
            iHeld = iSlot;
        else if (iSlot != iHeld)
            return "slot " + std::to_string(iSlot);
    }
    return "";
}

int Fail(const std::string& sWhy) {
    std::printf("soak: FAILED: %s\n", sWhy.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fputs("usage: driver_soak --seconds N --driver-port A --device-port B --out DIR [--seed S] "
                   "[--mix W,...] [--speed BITS] [--delay-us US] [--repeats PERCENT]\n",
                   stderr);
        return 2;
    }
    if (!o.bSeed)
        o.uSeed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    const std::string sStreamFile = o.sOut + "\\stream-" + std::to_string(o.uSeed) + ".bin";
    const int iLineBytesPerSecond = o.iSpeed / BITS_PER_BYTE;
    const std::size_t nBatchBytes = static_cast<std::size_t>(iLineBytesPerSecond * BATCH_SECONDS);
    std::printf("soak: seed %u, %d s at %d bit/s (%d bytes/s), the driver on COM%d, the device on COM%d\n",
                o.uSeed, o.iSeconds, o.iSpeed, iLineBytesPerSecond, o.iDriverPort, o.iDevicePort);
    std::printf("soak: the infodriver answers each exchange after %u us at least\n", o.uDelayUs);
    if (o.iStallAt >= 0)
        std::printf("soak: the infodriver stalls for %u ms %d s into the stream\n", o.uStallMs, o.iStallAt);
    std::printf("soak: stream saved to %s\n", sStreamFile.c_str());
    std::printf("soak: mix of %s: %d", MIX_NAMES, o.Mix[0]);
    for (int k = 1; k < ITEM_KINDS; ++k)
        std::printf(",%d", o.Mix[static_cast<std::size_t>(k)]);
    std::printf(", %d%% repeats\n", o.iRepeats);
    std::fflush(stdout);

    DriverSite Site;
    if (!Site.Create("soak", DEVICE, DriverKeys(o.iDriverPort, true, o.iSpeed)))
        return Fail("cannot make the driver's settings");
    DriverRun Run;
    std::string sError;
    if (!Run.Start(DRAVIK_EXE, STANDIN_EXE, DEVICE, sError,
                   "-q --delay-us " + std::to_string(o.uDelayUs) + " "))
        return Fail(sError);
    devsim::Line Device;
    devsim::LineSettings Settings;
    Settings.iPort = o.iDevicePort;
    Settings.iSpeed = o.iSpeed;
    if (!Device.Open(Settings, sError))
        return Fail(sError);
    std::FILE* pStream = std::fopen(sStreamFile.c_str(), "wb");
    if (pStream == nullptr)
        return Fail("cannot write " + sStreamFile);

    RandomStream Source(o.uSeed, o.Mix, o.iRepeats);
    std::vector<unsigned char> Sent;
    Sent.reserve(static_cast<std::size_t>(o.iSeconds + 10) * static_cast<std::size_t>(iLineBytesPerSecond));
    const std::size_t nLogStart = Site.LogText().size();
    const double dWarmUp = std::min(std::min(std::max(o.iSeconds / 10.0, 10.0), 60.0), o.iSeconds / 3.0);
    const double dCpuStart = Run.Driver.CpuMs();
    const double dStart = Device.Elapsed();
    // The two samples are taken beside the writer, so that the line never pauses for them: one
    // after the warm-up, one in the stream's last seconds, both under the same load.
    ProcessUsage First, Last;
    std::atomic<bool> bStop{false};
    std::thread Sampler([&] {
        auto WaitFor = [&](double dSeconds) {
            while (!bStop && (Device.Elapsed() - dStart) / 1000.0 < dSeconds)
                Sleep(50);
            return !bStop;
        };
        if (WaitFor(dWarmUp)) {
            First = SteadyUsage(Run.Driver);
            PrintUsage("start", (Device.Elapsed() - dStart) / 1000.0, First);
        }
        if (WaitFor(std::max(o.iSeconds - 1.5, dWarmUp + 1.0)))
            Last = SteadyUsage(Run.Driver);
    });
    struct JoinOnExit {
        std::thread& Thread;
        std::atomic<bool>& bStopFlag;
        ~JoinOnExit() {
            bStopFlag = true;
            if (Thread.joinable())
                Thread.join();
        }
    } Join{Sampler, bStop};
    // The debug list grows by a line for every unrecognised pair until it holds its 500: it is
    // filled first, so that its growth is not taken for a leak.
    StreamBytes Fill;
    for (int i = 0; i < DEBUG_LIST_FILL; ++i) {
        const StreamBytes Pair = {0x80, 0x80, static_cast<unsigned char>(i & 0x7F)};
        Fill.insert(Fill.end(), Pair.begin(), Pair.end());
    }
    if (!SendKept(Device, Fill, Sent))
        return Fail("a write to COM" + std::to_string(o.iDevicePort) + " failed");
    std::fwrite(Fill.data(), 1, Fill.size(), pStream);
    double dNextReport = 60;
    double dElapsed = 0;
    bool bStalled = false;
    std::size_t iStallFrom = 0;
    std::string sAfterStall; // the first slot the driver read after the stall, once judged
    while ((dElapsed = (Device.Elapsed() - dStart) / 1000.0) < o.iSeconds) {
        if (!bStalled && o.iStallAt >= 0 && dElapsed >= o.iStallAt) {
            // Each exchange is a line from here until the first after the stall has been seen.
            iStallFrom = Run.Standin.LineCount();
            Run.Standin.Send("stall " + std::to_string(o.uStallMs));
            Run.Standin.Send("quiet 0");
            bStalled = true;
        }
        if (bStalled && sAfterStall.empty() &&
            (sAfterStall = FirstReadAfterStall(Run.Standin.Lines(), iStallFrom)) != "")
            Run.Standin.Send("quiet 1");
        StreamBytes Batch;
        while (Batch.size() < nBatchBytes) {
            const StreamBytes Item = Source.Next();
            Batch.insert(Batch.end(), Item.begin(), Item.end());
        }
        if (!SendKept(Device, Batch, Sent))
            return Fail("a write to COM" + std::to_string(o.iDevicePort) + " failed");
        std::fwrite(Batch.data(), 1, Batch.size(), pStream);
        if (dElapsed >= dNextReport) {
            PrintUsage("", dElapsed, UsageOf(Run.Driver.Handle(), Run.Driver.Id()));
            dNextReport += 60;
        }
        if (!Run.Driver.Running())
            return Fail("the driver ended after " + std::to_string(dElapsed) + " s");
    }
    Sampler.join();
    PrintUsage("end", dElapsed, Last);
    const double dCpuMs = Run.Driver.CpuMs() - dCpuStart;
    const std::size_t nStreamBytes = Sent.size();

    // The driver may still be publishing: the end text behind everything shows when it is done.
    const std::size_t iFrom = Run.Standin.LineCount();
    Run.Standin.Send("quiet 0");
    Run.Standin.Send("get 1");
    Run.Standin.WaitFor("slot 1 ", 10000, iFrom);
    const DWORD dwCatchUp = GetTickCount();
    std::string sReport;
    const std::size_t nMismatches =
        CheckPublished(Run.Standin, Device, Sent, LAST_COMPARED_SLOT, CATCH_UP_MS, &sReport);
    const DWORD dwBacklogMs = GetTickCount() - dwCatchUp;
    std::fwrite(Sent.data() + nStreamBytes, 1, Sent.size() - nStreamBytes, pStream);
    std::fclose(pStream);
    // The exchanges the driver made, beside those of publishing every message as it came.
    const std::size_t iCounts = Run.Standin.LineCount();
    Run.Standin.Send("counts");
    long lReads = 0, lWrites = 0;
    std::sscanf(Run.Standin.WaitFor("counts ", 10000, iCounts).c_str(), "counts %ld %ld", &lReads, &lWrites);
    const long long iReads = memhost::ReadCount();
    const long long iWrites = memhost::WriteCount();

    const std::string sLog = Site.LogText().substr(nLogStart);
    const int iOverflows = CountOf(sLog, "Receive queue") + CountOf(sLog, "iWrtPtr too big");
    long long iLost = 0;
    const std::string sLostLine = "Receive queue overflow over - ";
    for (std::size_t i = sLog.find(sLostLine); i != std::string::npos; i = sLog.find(sLostLine, i + 1))
        iLost += std::atoll(sLog.c_str() + i + sLostLine.size());
    const int iFailures = CountOf(sLog, "COMMS FAIL");
    const int iSlowAnswers = CountOf(sLog, " to answer");
    // The right settings on a good line: nothing may point at a setting.
    int iSettingLines = 0;
    for (const char* pszPrefix : COMMISSIONING_PREFIXES)
        iSettingLines += CountOf(sLog, pszPrefix);
    const int iBehind = CountOf(sLog, "Publishing behind the line");
    long long iSuperseded = 0;
    const std::string sCaughtUp = "Publishing caught up - ";
    for (std::size_t i = sLog.find(sCaughtUp); i != std::string::npos; i = sLog.find(sCaughtUp, i + 1))
        iSuperseded += std::atoll(sLog.c_str() + i + sCaughtUp.size());
    long long iMessages = 0;
    for (int k = 0; k < ITEM_KINDS; ++k)
        iMessages += k == ITEM_GARBAGE ? 0 : Source.ItemCounts()[static_cast<std::size_t>(k)];
    const auto& Counts = Source.ItemCounts();

    std::printf("soak: duration     %.0f s of stream (warm-up %.0f s)\n", dElapsed, dWarmUp);
    std::printf("soak: bytes        %zu (%.0f a second; the line carries %d)\n", Sent.size(),
                static_cast<double>(nStreamBytes) / dElapsed, iLineBytesPerSecond);
    std::printf(
        "soak: messages     %lld (block %lld, group %lld, short %lld, output %lld, text %lld, marker %lld, "
        "trigger %lld) and %lld pieces of garbage\n",
        iMessages, Counts[ITEM_BLOCK], Counts[ITEM_GROUP], Counts[ITEM_SHORT], Counts[ITEM_OUTPUT],
        Counts[ITEM_TEXT], Counts[ITEM_MARKER], Counts[ITEM_TRIGGER], Counts[ITEM_GARBAGE]);
    std::printf(
        "soak: publishing   %ld slot reads and %ld writes (%.2f exchanges a message); publishing each "
        "message as it came: %lld and %lld (%.2f a message)\n",
        lReads, lWrites, static_cast<double>(lReads + lWrites) / static_cast<double>(iMessages), iReads,
        iWrites, static_cast<double>(iReads + iWrites) / static_cast<double>(iMessages));
    std::printf(
        "soak: behind       %d times, %lld superseded values never sent; driver processor time %.0f%% of "
        "one core; caught up %lu ms after the stream ended\n",
        iBehind, iSuperseded, dCpuMs / (10.0 * dElapsed), dwBacklogMs);
    std::printf("soak: mismatches   %s\n", nMismatches == END_NOT_SEEN ? "unknown (the end text never came)"
                                                                       : std::to_string(nMismatches).c_str());
    std::printf(
        "soak: log          %d overflow lines (%lld bytes lost), %d link failures, %d slow answers, %d "
        "lines about the settings\n",
        iOverflows, iLost, iFailures, iSlowAnswers, iSettingLines);
    std::printf("soak: memory       working set %.2f -> %.2f MB, private %.2f -> %.2f MB\n",
                Megabytes(First.nWorkingSet), Megabytes(Last.nWorkingSet), Megabytes(First.nPrivate),
                Megabytes(Last.nPrivate));
    std::printf("soak: handles      %lu -> %lu\n", First.dwHandles, Last.dwHandles);

    std::string sFailures;
    if (nMismatches != 0)
        sFailures += "slots differ from the decoding:\n" + sReport + "\n";
    if (iOverflows != 0)
        sFailures += "the log reports lost bytes:\n" + sLog + "\n";
    if (iFailures != 0)
        sFailures += "the link failed during the stream\n";
    if (iSettingLines != 0)
        sFailures += "the log points at a setting on a good line\n";
    if (o.iStallAt >= 0 && iSlowAnswers == 0)
        sFailures += "the log does not name the stalled infodriver\n";
    // The backlog is framed whole before any of it is published, and its tallies go first.
    if (o.iStallAt >= 0 && sAfterStall.rfind("tally", 0) != 0)
        sFailures += "after the stall the driver published " +
                     (sAfterStall.empty() ? "nothing" : sAfterStall) + " before the backlog's tallies\n";
    // A stall's backlog takes the receive queue's pages as deep as it went, and they stay taken.
    const SIZE_T nStallPages =
        o.iStallAt >= 0 ? static_cast<SIZE_T>(iLineBytesPerSecond * 1.5 * o.uStallMs / 1000.0) : 0;
    if (!First.bValid || !Last.bValid)
        sFailures += "the driver's memory and handles could not be read\n";
    else {
        if (Last.nPrivate > First.nPrivate + MEMORY_SLACK + nStallPages ||
            Last.nWorkingSet > First.nWorkingSet + MEMORY_SLACK + nStallPages)
            sFailures += "the driver's memory grew\n";
        if (Last.dwHandles > First.dwHandles + HANDLE_SLACK)
            sFailures += "the driver's handles grew\n";
    }
    if (!Run.Driver.Running() || !Run.Answers(5000))
        sFailures += "the driver no longer runs or answers\n";
    if (!sFailures.empty())
        return Fail(sFailures);
    std::printf("soak: passed\n");
    return 0;
}
