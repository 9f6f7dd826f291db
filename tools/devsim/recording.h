#pragma once
// Line recordings made inside the running driver (Debug, Record line; serial/recording_format.h):
// read into their chunks and times, turned into steps to play, or written out as a scenario.
#include "tools/devsim/scenario.h"

#include <string>
#include <utility>
#include <vector>

namespace devsim {

// The longest a recording lasts, and the most bytes it can have lost: a time or a count beyond
// these is a damaged record. A month is longer than anyone records a line (flat out, a line
// fills the 64 MB a recording may take within hours), and a play can wait it out; the loss is a
// million bytes a second for that long, more than any serial line brings.
constexpr long long RECORDING_LONGEST_MS = 31LL * 24 * 60 * 60 * 1000;
constexpr long long RECORDING_MOST_LOST = RECORDING_LONGEST_MS * 1000;

struct RecordedChunk {
    long long iMs = 0;     // from the start of the recording
    Bytes Data;            // empty for a loss note
    long long iLost = 0;   // a loss note: bytes received here that the recording could not keep
};

struct Recording {
    std::vector<std::pair<std::string, std::string>> Header; // key and value, in order
    std::vector<RecordedChunk> Chunks;
    long long iEndMs = 0;   // the end record's time; the last chunk's when the file was cut short
    bool bComplete = false; // the end record is there
    long long iLineBytes = 0;
    long long iLostBytes = 0;
    // The header's value for the key, or "".
    std::string Value(const std::string& sKey) const;
};

// Whether a file's contents are a recording.
bool IsRecording(const std::string& sFile);
// False with the reason in sError when the file is not a recording or a record is damaged. A file
// cut short is read up to its last whole record.
bool ParseRecording(const std::string& sFile, Recording& Out, std::string& sError);
// Each chunk at its time, a loss note as a remark, and the end as a last wait.
std::vector<Step> RecordingSteps(const Recording& R);
// A chunk as a scenario's lines: "at MS", then "raw" lines of up to 32 bytes.
std::string ChunkScenarioText(long long iMs, const Bytes& Data);
// The whole recording as a scenario that plays the same bytes at the same times.
std::string RecordingScenario(const Recording& R);

} // namespace devsim
