// devsim: plays device messages or a line recording into a COM port, captures what arrives on one,
// and describes recordings.
#include "tools/devsim/line.h"
#include "tools/devsim/recording.h"
#include "tools/devsim/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

using namespace devsim;

namespace {

const char szUsage[] = R"(devsim - Dravik device simulator

  devsim --port N [line options] play FILE [--loop N] [--rate R|max] [--ext] [--quiet]
      Plays a scenario (format below), a capture made by 'capture', or a line recording made by
      the driver (Debug, Record line) with its recorded timing. --rate 4 plays four times as fast,
      --rate max as fast as the line allows. A recording sets the line speed unless --speed does.
  devsim info FILE
      Describes a line recording: its device, start, port, duration, bytes, losses.
  devsim print FILE
      Writes a line recording as a scenario (at + raw lines) to standard output.
  devsim --port N [line options] send FILE
      Sends a binary file as it is (a raw capture taken elsewhere), at the pace of the line.
  devsim --port N [line options] capture FILE [--seconds S] [--idle S]
      Records what arrives on the port, with time stamps, as a scenario that 'play' replays.
      Stops after S seconds (default 60), or after --idle S seconds without bytes once some came.

Line options (defaults are the driver's): --speed 38400  --data 8
  --parity none|odd|even|mark|space (none)  --stop 1|1.5|2 (1)
Writes are paced to the line speed (start, data, parity and stop bits per character).
--extensions (or --ext): a scenario's block and short messages in their extended forms (29 and 21
  bytes), as a switcher with its extensions on sends them, until the scenario says 'ext off'.

)";

struct Options {
    LineSettings Line;
    std::string sCommand, sFile;
    int iLoops = 1;
    bool bExtensions = false, bQuiet = false, bSpeedGiven = false;
    double dSeconds = 60, dIdle = 0;
    double dRate = 1; // 0: as fast as the line allows
};

bool ReadFileText(const std::string& sPath, std::string& sText) {
    std::ifstream In(sPath, std::ios::binary);
    if (!In)
        return false;
    std::stringstream Text;
    Text << In.rdbuf();
    sText = Text.str();
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    auto Value = [&](int& i) -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port")
            o.Line.iPort = std::atoi(Value(i));
        else if (a == "--speed") {
            o.Line.iSpeed = std::atoi(Value(i));
            o.bSpeedGiven = true;
        } else if (a == "--rate") {
            const std::string r = Value(i);
            o.dRate = r == "max" ? 0 : std::atof(r.c_str());
            if (r != "max" && o.dRate <= 0)
                return false;
        }
        else if (a == "--data")
            o.Line.iDataBits = std::atoi(Value(i));
        else if (a == "--parity") {
            const std::string p = Value(i);
            const char* const pszNames[] = {"none", "odd", "even", "mark", "space"};
            o.Line.iParity = -1;
            for (int k = 0; k < 5; ++k)
                if (p == pszNames[k])
                    o.Line.iParity = k;
            if (o.Line.iParity < 0)
                return false;
        } else if (a == "--stop") {
            const std::string s = Value(i);
            o.Line.iStopBits = s == "1"     ? ONESTOPBIT
                               : s == "1.5" ? ONE5STOPBITS
                               : s == "2"   ? TWOSTOPBITS
                                            : -1;
            if (o.Line.iStopBits < 0)
                return false;
        } else if (a == "--loop")
            o.iLoops = std::atoi(Value(i));
        else if (a == "--ext" || a == "--extensions")
            o.bExtensions = true;
        else if (a == "--quiet")
            o.bQuiet = true;
        else if (a == "--seconds")
            o.dSeconds = std::atof(Value(i));
        else if (a == "--idle")
            o.dIdle = std::atof(Value(i));
        else if (o.sCommand.empty())
            o.sCommand = a;
        else if (o.sFile.empty())
            o.sFile = a;
        else
            return false;
    }
    const bool bNeedsPort = o.sCommand != "info" && o.sCommand != "print";
    return !o.sCommand.empty() && !o.sFile.empty() && (o.Line.iPort > 0 || !bNeedsPort);
}

bool ReadRecording(const std::string& sPath, Recording& R) {
    std::string sData, sError;
    if (!ReadFileText(sPath, sData)) {
        std::fprintf(stderr, "devsim: cannot read %s\n", sPath.c_str());
        return false;
    }
    if (!ParseRecording(sData, R, sError)) {
        std::fprintf(stderr, "devsim: %s: %s\n", sPath.c_str(), sError.c_str());
        return false;
    }
    return true;
}

int Play(Options o) {
    std::string sText, sError;
    if (!ReadFileText(o.sFile, sText)) {
        std::fprintf(stderr, "devsim: cannot read %s\n", o.sFile.c_str());
        return 1;
    }
    std::vector<Step> Steps;
    const bool bRecording = IsRecording(sText);
    if (bRecording) {
        Recording R;
        if (!ParseRecording(sText, R, sError)) {
            std::fprintf(stderr, "devsim: %s: %s\n", o.sFile.c_str(), sError.c_str());
            return 1;
        }
        if (!o.bSpeedGiven && std::atoi(R.Value("speed").c_str()) > 0)
            o.Line.iSpeed = std::atoi(R.Value("speed").c_str());
        Steps = RecordingSteps(R);
    } else if (!ParseScenario(sText, o.bExtensions, Steps, sError)) {
        std::fprintf(stderr, "devsim: %s: %s\n", o.sFile.c_str(), sError.c_str());
        return 1;
    }
    Line Port;
    if (!Port.Open(o.Line, sError)) {
        std::fprintf(stderr, "devsim: %s\n", sError.c_str());
        return 1;
    }
    std::printf("devsim: playing %s into %s\n", o.sFile.c_str(), o.Line.Describe().c_str());
    long long iMessages = 0, iBytes = 0;
    for (int iLoop = 0; iLoop < o.iLoops; ++iLoop) {
        const double dLoopStart = Port.Elapsed();
        for (const Step& s : Steps) {
            switch (s.Kind) {
                case StepKind::Send:
                    if (!Port.Send(s.Data)) {
                        std::fprintf(stderr, "devsim: write failed (error %lu)\n", GetLastError());
                        return 1;
                    }
                    ++iMessages;
                    iBytes += static_cast<long long>(s.Data.size());
                    break;
                case StepKind::Wait:
                    if (o.dRate > 0)
                        Port.WaitUntil(Port.Elapsed() + static_cast<double>(s.iMs) / o.dRate);
                    break;
                case StepKind::At:
                    if (o.dRate > 0)
                        Port.WaitUntil(dLoopStart + static_cast<double>(s.iMs) / o.dRate);
                    break;
                case StepKind::Say:
                    if (!o.bQuiet)
                        std::printf("%9.3f s  %s\n", Port.Elapsed() / 1000.0, s.sNote.c_str());
                    break;
            }
            std::fflush(stdout);
        }
    }
    std::printf("devsim: sent %lld %s, %lld bytes in %.1f s\n", iMessages, bRecording ? "chunks" : "messages",
                iBytes, Port.Elapsed() / 1000.0);
    return 0;
}

int SendBinary(const Options& o) {
    std::string sData, sError;
    if (!ReadFileText(o.sFile, sData)) {
        std::fprintf(stderr, "devsim: cannot read %s\n", o.sFile.c_str());
        return 1;
    }
    Line Port;
    if (!Port.Open(o.Line, sError)) {
        std::fprintf(stderr, "devsim: %s\n", sError.c_str());
        return 1;
    }
    // Small chunks keep the pace of the line.
    constexpr size_t CHUNK = 64;
    for (size_t i = 0; i < sData.size(); i += CHUNK) {
        const size_t n = std::min(CHUNK, sData.size() - i);
        if (!Port.Send(
                Bytes(sData.begin() + static_cast<long>(i), sData.begin() + static_cast<long>(i + n)))) {
            std::fprintf(stderr, "devsim: write failed (error %lu)\n", GetLastError());
            return 1;
        }
    }
    std::printf("devsim: sent %zu bytes in %.1f s\n", sData.size(), Port.Elapsed() / 1000.0);
    return 0;
}

int Capture(const Options& o) {
    std::string sError;
    Line Port;
    if (!Port.Open(o.Line, sError)) {
        std::fprintf(stderr, "devsim: %s\n", sError.c_str());
        return 1;
    }
    std::FILE* pOut = std::fopen(o.sFile.c_str(), "w");
    if (!pOut) {
        std::fprintf(stderr, "devsim: cannot write %s\n", o.sFile.c_str());
        return 1;
    }
    const std::time_t Now = std::time(nullptr);
    char szWhen[32];
    std::strftime(szWhen, sizeof szWhen, "%Y-%m-%d %H:%M:%S", std::localtime(&Now));
    std::fprintf(pOut, "# devsim capture of %s, started %s\n# Replay: devsim --port N play THIS_FILE\n",
                 o.Line.Describe().c_str(), szWhen);
    std::printf("devsim: capturing %s into %s for up to %.0f s\n", o.Line.Describe().c_str(), o.sFile.c_str(),
                o.dSeconds);
    long long iBytes = 0;
    double dLastByte = -1;
    while (Port.Elapsed() < o.dSeconds * 1000.0) {
        if (o.dIdle > 0 && dLastByte >= 0 && Port.Elapsed() - dLastByte > o.dIdle * 1000.0)
            break;
        const Bytes Chunk = Port.Receive(100);
        if (Chunk.empty())
            continue;
        dLastByte = Port.Elapsed();
        // The time of the chunk's first byte, as near as a read can tell.
        std::fputs(ChunkScenarioText(static_cast<long long>(dLastByte + 0.5), Chunk).c_str(), pOut);
        std::fflush(pOut);
        iBytes += static_cast<long long>(Chunk.size());
    }
    std::fclose(pOut);
    std::printf("devsim: captured %lld bytes in %.1f s\n", iBytes, Port.Elapsed() / 1000.0);
    return 0;
}

int Info(const Options& o) {
    Recording R;
    if (!ReadRecording(o.sFile, R))
        return 1;
    std::string sData;
    ReadFileText(o.sFile, sData);
    // One word a key, for scripts.
    std::printf("recording  %s\n", o.sFile.c_str());
    for (const auto& [sKey, sValue] : R.Header)
        std::printf("%-10s %s\n", sKey.c_str(), sValue.c_str());
    long long iChunks = 0;
    for (const RecordedChunk& c : R.Chunks)
        iChunks += c.iLost == 0;
    std::printf("duration   %.3f s\n", static_cast<double>(R.iEndMs) / 1000.0);
    std::printf("line       %lld bytes in %lld chunks\n", R.iLineBytes, iChunks);
    std::printf("lost       %lld bytes\n", R.iLostBytes);
    std::printf("file       %zu bytes\n", sData.size());
    std::printf("complete   %s\n", R.bComplete ? "yes" : "no: cut short, it plays up to its last whole record");
    return 0;
}

int Print(const Options& o) {
    Recording R;
    if (!ReadRecording(o.sFile, R))
        return 1;
    std::fputs(RecordingScenario(R).c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (argc < 2 || !std::strcmp(argv[1], "help") || !std::strcmp(argv[1], "--help") ||
        !ParseOptions(argc, argv, o)) {
        std::fputs(szUsage, stdout);
        std::fputs(pszScenarioHelp, stdout);
        return argc < 2 ? 2 : (std::strcmp(argv[1], "help") && std::strcmp(argv[1], "--help") ? 2 : 0);
    }
    if (o.sCommand == "play")
        return Play(o);
    if (o.sCommand == "send")
        return SendBinary(o);
    if (o.sCommand == "capture")
        return Capture(o);
    if (o.sCommand == "info")
        return Info(o);
    if (o.sCommand == "print")
        return Print(o);
    std::fputs(szUsage, stdout);
    return 2;
}
