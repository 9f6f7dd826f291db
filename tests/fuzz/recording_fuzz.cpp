// The line recording's reader under libFuzzer: any bytes as a recording file. What the reader
// accepts must be a recording devsim can describe, print and play: its times never go back and
// stay within the longest recording, its byte counts match its chunks, and the scenario devsim
// prints of it is read back by devsim's own scenario parser into the same bytes, in the same
// order, at the same times. A broken one aborts with a message, which libFuzzer reports with the
// input.
#include "serial/recording_format.h"
#include "tools/devsim/recording.h"
#include "tools/devsim/scenario.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace devsim;

namespace {

[[noreturn]] __attribute__((format(printf, 1, 2))) void Violation(const char* pszFormat, ...) {
    std::fprintf(stderr, "\n*** recording invariant broken: ");
    va_list args;
    va_start(args, pszFormat);
    std::vfprintf(stderr, pszFormat, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::abort();
}

// What a play sends: every byte with the time it goes, as devsim's play times its steps.
struct Played {
    std::vector<std::pair<long long, std::uint8_t>> Bytes;
    long long iEndMs = 0;
};

Played Play(const std::vector<Step>& Steps) {
    Played Out;
    long long iNow = 0;
    for (const Step& s : Steps) {
        if (s.Kind == StepKind::At)
            iNow = std::max(iNow, s.iMs);
        else if (s.Kind == StepKind::Wait)
            iNow += s.iMs;
        else if (s.Kind == StepKind::Send)
            for (std::uint8_t b : s.Data)
                Out.Bytes.emplace_back(iNow, b);
    }
    Out.iEndMs = iNow;
    return Out;
}

void CheckChunks(const Recording& R) {
    long long iLast = 0, iLine = 0, iLost = 0;
    for (std::size_t i = 0; i < R.Chunks.size(); ++i) {
        const RecordedChunk& c = R.Chunks[i];
        if (c.iMs < iLast)
            Violation("chunk %zu at %lld ms, after one at %lld ms", i, c.iMs, iLast);
        if (c.iMs > RECORDING_LONGEST_MS)
            Violation("chunk %zu at %lld ms, past the longest recording", i, c.iMs);
        iLast = c.iMs;
        const bool bLoss = c.iLost != 0;
        if (bLoss ? c.iLost < 0 || !c.Data.empty()
                  : c.Data.empty() || c.Data.size() > static_cast<std::size_t>(RECORDING_MAX_CHUNK))
            Violation("chunk %zu: %zu bytes, %lld lost", i, c.Data.size(), c.iLost);
        iLine += static_cast<long long>(c.Data.size());
        iLost += c.iLost;
    }
    if (R.iEndMs < iLast || R.iEndMs > RECORDING_LONGEST_MS)
        Violation("ends at %lld ms, its last chunk at %lld ms, the longest recording %lld ms", R.iEndMs,
                  iLast, RECORDING_LONGEST_MS);
    if (iLine != R.iLineBytes || iLost != R.iLostBytes || iLost > RECORDING_MOST_LOST)
        Violation("%lld line and %lld lost bytes, its chunks hold %lld and %lld", R.iLineBytes, R.iLostBytes,
                  iLine, iLost);
}

void CheckRoundTrip(const Recording& R) {
    const std::string sScenario = RecordingScenario(R);
    std::vector<Step> Steps;
    std::string sError;
    if (!ParseScenario(sScenario, false, Steps, sError))
        Violation("devsim prints a scenario its parser refuses: %s", sError.c_str());
    const Played Printed = Play(Steps), Recorded = Play(RecordingSteps(R));
    if (Printed.iEndMs != Recorded.iEndMs)
        Violation("the printed scenario ends at %lld ms, the recording at %lld ms", Printed.iEndMs,
                  Recorded.iEndMs);
    if (Printed.Bytes != Recorded.Bytes) {
        std::size_t i = 0;
        while (i < Printed.Bytes.size() && i < Recorded.Bytes.size() && Printed.Bytes[i] == Recorded.Bytes[i])
            ++i;
        Violation("the printed scenario plays %zu bytes, the recording %zu; they part at byte %zu",
                  Printed.Bytes.size(), Recorded.Bytes.size(), i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    const std::string sFile(reinterpret_cast<const char*>(pData), nSize);
    Recording R;
    std::string sError;
    if (!ParseRecording(sFile, R, sError)) {
        if (sError.empty())
            Violation("refused without a reason");
        return 0;
    }
    CheckChunks(R);
    CheckRoundTrip(R);
    return 0;
}
