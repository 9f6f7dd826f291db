#include "tools/devsim/recording.h"

#include "serial/recording_format.h"

#include <cstdio>
#include <cstring>

namespace devsim {

std::string Recording::Value(const std::string& sKey) const {
    for (const auto& [sName, sValue] : Header)
        if (sName == sKey)
            return sValue;
    return "";
}

namespace {

// A number of a record: the bytes it takes; 0 when the file ends inside it, -1 when it is longer
// than any the driver writes (past 64 bits).
int ReadNumber(const unsigned char* p, const unsigned char* pEnd, unsigned long long& iValue) {
    const int n = GetRecordingNumber(p, pEnd, &iValue);
    if (n == 0)
        return pEnd - p >= RECORDING_NUMBER_BYTES ? -1 : 0;
    return n == RECORDING_NUMBER_BYTES && p[n - 1] > 1 ? -1 : n;
}

} // namespace

bool IsRecording(const std::string& sFile) {
    const std::size_t n = std::strlen(RECORDING_MAGIC);
    return sFile.size() > n && sFile.compare(0, n, RECORDING_MAGIC) == 0 &&
           (sFile[n] == '\n' || sFile[n] == '\r');
}

bool ParseRecording(const std::string& sFile, Recording& Out, std::string& sError) {
    Out = Recording{};
    if (!IsRecording(sFile)) {
        sError = "not a line recording";
        return false;
    }
    // The header: lines up to the first empty one.
    std::size_t iAt = sFile.find('\n') + 1;
    for (;;) {
        const std::size_t iEnd = sFile.find('\n', iAt);
        if (iEnd == std::string::npos) {
            sError = "the header has no end";
            return false;
        }
        std::string sLine = sFile.substr(iAt, iEnd - iAt);
        iAt = iEnd + 1;
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        if (sLine.empty())
            break;
        const std::size_t iBlank = sLine.find(' ');
        Out.Header.emplace_back(sLine.substr(0, iBlank), iBlank == std::string::npos ? "" : sLine.substr(iBlank + 1));
    }

    const auto* pStart = reinterpret_cast<const unsigned char*>(sFile.data());
    const unsigned char* p = pStart + iAt;
    const unsigned char* const pEnd = pStart + sFile.size();
    long long iMs = 0;
    while (p < pEnd) {
        const unsigned char* const pRecord = p;
        // Info, print and play alike refuse it here, rather than report, write or wait for a time
        // no recording reaches.
        const auto Damaged = [&] {
            sError = "damaged record at byte " + std::to_string(pRecord - pStart);
            return false;
        };
        unsigned long long iGap = 0, iLength = 0;
        const int n = ReadNumber(p, pEnd, iGap);
        if (n < 0 || (n > 0 && iGap > static_cast<unsigned long long>(RECORDING_LONGEST_MS - iMs)))
            return Damaged();
        const int m = n > 0 ? ReadNumber(p + n, pEnd, iLength) : 0;
        if (m < 0)
            return Damaged();
        if (n == 0 || m == 0)
            break; // cut short
        p += n + m;
        iMs += static_cast<long long>(iGap);
        RecordedChunk Chunk;
        Chunk.iMs = iMs;
        if (iLength == 0) {
            unsigned long long iLost = 0;
            const int k = ReadNumber(p, pEnd, iLost);
            const auto iMostLost = static_cast<unsigned long long>(RECORDING_MOST_LOST - Out.iLostBytes);
            if (k < 0 || (k > 0 && iLost > iMostLost))
                return Damaged();
            if (k == 0)
                break;
            p += k;
            if (iLost == 0) {
                Out.bComplete = true;
                Out.iEndMs = iMs;
                if (p != pEnd) {
                    sError = "bytes after the end record";
                    return false;
                }
                return true;
            }
            Chunk.iLost = static_cast<long long>(iLost);
            Out.iLostBytes += Chunk.iLost;
        } else if (iLength > static_cast<unsigned long long>(RECORDING_MAX_CHUNK)) {
            return Damaged();
        } else if (static_cast<unsigned long long>(pEnd - p) < iLength) {
            break;
        } else {
            Chunk.Data.assign(p, p + iLength);
            p += iLength;
            Out.iLineBytes += static_cast<long long>(iLength);
        }
        Out.Chunks.push_back(std::move(Chunk));
        Out.iEndMs = iMs;
    }
    return true;
}

std::vector<Step> RecordingSteps(const Recording& R) {
    std::vector<Step> Steps;
    for (const RecordedChunk& c : R.Chunks) {
        Steps.push_back({StepKind::At, {}, c.iMs, ""});
        if (c.iLost > 0)
            Steps.push_back({StepKind::Say, {}, 0, "the recording lost " + std::to_string(c.iLost) + " bytes here"});
        else
            Steps.push_back({StepKind::Send, c.Data, 0, ""});
    }
    Steps.push_back({StepKind::At, {}, R.iEndMs, ""});
    return Steps;
}

std::string ChunkScenarioText(long long iMs, const Bytes& Data) {
    std::string sText = "at " + std::to_string(iMs) + "\n";
    for (std::size_t i = 0; i < Data.size(); i += 32) {
        sText += "raw";
        for (std::size_t k = i; k < Data.size() && k < i + 32; ++k) {
            char szByte[4];
            std::snprintf(szByte, sizeof szByte, " %02x", Data[k]);
            sText += szByte;
        }
        sText += "\n";
    }
    return sText;
}

std::string RecordingScenario(const Recording& R) {
    std::string sText = "# line recording";
    for (const auto& [sKey, sValue] : R.Header)
        sText += ", " + sKey + " " + sValue;
    sText += "\n";
    for (const RecordedChunk& c : R.Chunks)
        sText += c.iLost > 0 ? "# lost " + std::to_string(c.iLost) + " bytes at " + std::to_string(c.iMs) + " ms\n"
                             : ChunkScenarioText(c.iMs, c.Data);
    sText += "at " + std::to_string(R.iEndMs) + (R.bComplete ? "\n" : "\n# the recording was cut short here\n");
    return sText;
}

} // namespace devsim
