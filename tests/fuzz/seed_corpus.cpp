// Makes the fuzz targets' seed corpora from the bundled device stream and the bundled simulator
// scenario. The protocol core's, in the input layout of tests/fuzz/fuzz_input.h: each source as raw
// device bytes and as well-formed messages, with both Extensions settings, several chunkings,
// ticks and slow publishing. The recording reader's: the scenario as the driver's line recording
// of it, whole and cut short. Usage: fuzz_seeds STREAM.hex SCENARIO.txt PROTOCOL-FOLDER
// RECORDING-FOLDER
#include "serial/recording_format.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/devsim/scenario.h"
#include "tools/memhost/streamfile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace fuzzinput;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr std::size_t MAX_SCHEDULE = 255;
constexpr std::size_t INPUT_LIMIT = 4096;

struct Seed {
    unsigned char bSettings = 0;
    unsigned char bTxOutput = 0;
    Bytes Schedule;
    Bytes Payload;
};

int iWritten = 0;

int WriteInput(const std::string& sFolder, const std::string& sName, const Bytes& input) {
    const std::string sPath = sFolder + "/seed-" + sName;
    std::ofstream out(sPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
    if (!out) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", sPath.c_str());
        return 1;
    }
    ++iWritten;
    return 0;
}

int WriteSeed(const std::string& sFolder, const std::string& sName, const Seed& seed) {
    Bytes input = {seed.bSettings, seed.bTxOutput,
                   static_cast<unsigned char>(std::min(seed.Schedule.size(), MAX_SCHEDULE))};
    input.insert(input.end(), seed.Schedule.begin(), seed.Schedule.begin() + input[2]);
    input.insert(input.end(), seed.Payload.begin(), seed.Payload.end());
    input.resize(std::min(input.size(), INPUT_LIMIT));
    return WriteInput(sFolder, sName, input);
}

unsigned char CostSettings(unsigned long ulCost) {
    for (std::size_t i = 0; i < StartCosts.size(); ++i)
        if (StartCosts[i] == ulCost)
            return static_cast<unsigned char>(i << SETTING_COST_SHIFT);
    return 0;
}

unsigned char RawTxSelector(int iSlot) {
    for (std::size_t i = 0; i < RawTxOutputs.size(); ++i)
        if (RawTxOutputs[i] == iSlot)
            return static_cast<unsigned char>(17 + i);
    return 0;
}

void AddDelivery(Bytes& schedule, std::size_t nBytes) {
    while (nBytes > 0) {
        std::size_t n = std::min<std::size_t>(nBytes, 64);
        schedule.push_back(static_cast<unsigned char>(OP_DELIVER_SMALL + n - 1));
        nBytes -= n;
    }
}

void AddTicks(Bytes& schedule, int nTicks) {
    for (; nTicks > 0; nTicks -= 16)
        schedule.push_back(static_cast<unsigned char>(OP_TICKS + std::min(nTicks, 16) - 1));
}

// Chunks of nChunk bytes, with iTicks ticks after every nTickEvery chunks (0: none).
Bytes EvenChunks(std::size_t nBytes, std::size_t nChunk, std::size_t nTickEvery, int iTicks) {
    Bytes schedule;
    for (std::size_t nDone = 0, nChunks = 0; nDone < nBytes; nDone += nChunk) {
        AddDelivery(schedule, std::min(nChunk, nBytes - nDone));
        if (nTickEvery != 0 && ++nChunks % nTickEvery == 0)
            AddTicks(schedule, iTicks);
    }
    return schedule;
}

// The well-formed messages found in a raw stream, one after the other.
std::vector<Bytes> FindMessages(const Bytes& stream, bool bExtensions) {
    std::vector<Bytes> messages;
    for (std::size_t i = 0; i + 1 < stream.size();) {
        const std::size_t n = static_cast<std::size_t>(WellFormedLength(stream[i], bExtensions));
        if (n > 0 && stream[i + 1] == stream[i] && i + n <= stream.size()) {
            messages.emplace_back(stream.begin() + static_cast<long>(i),
                                  stream.begin() + static_cast<long>(i + n));
            i += n;
        } else {
            ++i;
        }
    }
    return messages;
}

// A message as the well-formed payload carries it: its selector, then its data.
void AddMessage(Bytes& payload, const Bytes& message) {
    payload.push_back(static_cast<unsigned char>(CommandSelector(message[0])));
    payload.insert(payload.end(), message.begin() + 2, message.end());
}

Bytes Concatenated(const std::vector<Bytes>& messages) {
    Bytes all;
    for (const Bytes& m : messages)
        all.insert(all.end(), m.begin(), m.end());
    return all;
}

Bytes RepeatedUpTo(const Bytes& bytes, std::size_t nMax) {
    Bytes out;
    while (!bytes.empty() && out.size() + bytes.size() <= nMax)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

int StreamSeeds(const std::string& sFolder, const Bytes& stream) {
    int iFailed = 0;
    Seed whole;
    whole.Payload = stream;
    iFailed |= WriteSeed(sFolder, "stream-whole", whole);

    Seed sixteen = whole;
    sixteen.Schedule = EvenChunks(stream.size(), 16, 8, 1);
    iFailed |= WriteSeed(sFolder, "stream-16", sixteen);

    Seed bytewise = whole;
    bytewise.Schedule.assign(MAX_SCHEDULE, OP_DELIVER_SMALL);
    iFailed |= WriteSeed(sFolder, "stream-bytewise", bytewise);

    Seed extended = whole;
    extended.bSettings = SETTING_EXTENSIONS | SETTING_LINK_KNOWN;
    extended.bTxOutput = 2;
    extended.Schedule = EvenChunks(stream.size(), 5, 0, 0);
    iFailed |= WriteSeed(sFolder, "stream-extended-tx2", extended);

    // Slow publishing, and more bytes arriving before the window's own notifications have run.
    Seed slow = whole;
    slow.bSettings = SETTING_LINK_KNOWN | CostSettings(1);
    slow.bTxOutput = RawTxSelector(1010);
    for (std::size_t n = 0; n < stream.size(); n += 7) {
        slow.Schedule.push_back(OP_CUT_CONTINUATIONS);
        AddDelivery(slow.Schedule, 7);
    }
    iFailed |= WriteSeed(sFolder, "stream-slow", slow);

    // Silence long enough to fail the link in the middle, a changing redundancy state, a clock
    // about to wrap.
    Seed silence = whole;
    silence.Schedule = {OP_REDUNDANCY + 1, static_cast<unsigned char>(OP_CLOCK + 13)};
    AddDelivery(silence.Schedule, stream.size() / 2);
    silence.Schedule.push_back(OP_TICKS + 5);
    silence.Schedule.push_back(OP_REDUNDANCY + 3);
    silence.Schedule.push_back(OP_COST + 5);
    silence.Schedule.push_back(OP_QUEUE_ONLY + 31);
    silence.Schedule.push_back(OP_IDLE);
    iFailed |= WriteSeed(sFolder, "stream-silence", silence);

    // A backlog several times the assembly buffer at one notification.
    Seed backlog;
    backlog.bSettings = CostSettings(2);
    backlog.Payload = RepeatedUpTo(stream, INPUT_LIMIT - 8);
    backlog.Schedule = {static_cast<unsigned char>(OP_DELIVER_LARGE + backlog.Payload.size() / 64)};
    iFailed |= WriteSeed(sFolder, "stream-backlog", backlog);

    // The same stream as well-formed messages.
    const std::vector<Bytes> messages = FindMessages(stream, false);
    Seed wellFormed;
    wellFormed.bSettings = SETTING_WELL_FORMED;
    for (const Bytes& m : messages)
        AddMessage(wellFormed.Payload, m);
    wellFormed.Schedule = EvenChunks(Concatenated(messages).size(), 16, 4, 1);
    iFailed |= WriteSeed(sFolder, "stream-messages", wellFormed);

    Seed wellFormedBacklog = wellFormed;
    wellFormedBacklog.bSettings = SETTING_WELL_FORMED | CostSettings(1);
    wellFormedBacklog.Payload = RepeatedUpTo(wellFormed.Payload, INPUT_LIMIT - 8);
    wellFormedBacklog.Schedule.clear();
    iFailed |= WriteSeed(sFolder, "stream-messages-backlog", wellFormedBacklog);
    return iFailed;
}

// The scenario played as the simulator plays it: each message one delivery, its pauses as ticks.
int ScenarioSeeds(const std::string& sFolder, const std::string& sScenario, bool bExtensions) {
    std::vector<devsim::Step> steps;
    std::string sError;
    if (!devsim::ParseScenario(sScenario, bExtensions, steps, sError)) {
        std::fprintf(stderr, "fuzz_seeds: scenario: %s\n", sError.c_str());
        return 1;
    }
    Seed raw, wellFormed;
    long long iNowMs = 0;
    int nTicks = 0;
    for (const devsim::Step& step : steps) {
        if (step.Kind == devsim::StepKind::Send) {
            AddDelivery(raw.Schedule, step.Data.size());
            raw.Payload.insert(raw.Payload.end(), step.Data.begin(), step.Data.end());
            if (CommandSelector(step.Data[0]) >= 0 &&
                static_cast<int>(step.Data.size()) == WellFormedLength(step.Data[0], bExtensions))
                AddMessage(wellFormed.Payload, step.Data);
            continue;
        }
        if (step.Kind == devsim::StepKind::Wait)
            iNowMs += step.iMs;
        else if (step.Kind == devsim::StepKind::At)
            iNowMs = std::max(iNowMs, step.iMs);
        const int nDue = static_cast<int>(iNowMs / 1000);
        AddTicks(raw.Schedule, nDue - nTicks);
        nTicks = std::max(nTicks, nDue);
    }
    const std::string sSuffix = bExtensions ? "-extended" : "";
    raw.bSettings = bExtensions ? SETTING_EXTENSIONS : 0;
    int iFailed = WriteSeed(sFolder, "scenario" + sSuffix, raw);
    wellFormed.bSettings = static_cast<unsigned char>(raw.bSettings | SETTING_WELL_FORMED);
    wellFormed.Schedule = raw.Schedule; // the deliveries count message bytes either way
    iFailed |= WriteSeed(sFolder, "scenario-messages" + sSuffix, wellFormed);
    return iFailed;
}

void PutNumber(Bytes& file, unsigned long long iValue) {
    unsigned char Number[RECORDING_NUMBER_BYTES];
    file.insert(file.end(), Number, Number + PutRecordingNumber(Number, iValue));
}

// The scenario as the driver records it: each message received at its time in chunks of up to 16
// bytes, as the reader delivers them from a USB adapter; once a loss, noted as the writer notes
// one, ahead of the next chunk; then the end a second after the last. And the same cut short
// inside its last chunk.
int RecordingSeeds(const std::string& sFolder, const std::string& sScenario) {
    std::vector<devsim::Step> steps;
    std::string sError;
    if (!devsim::ParseScenario(sScenario, false, steps, sError)) {
        std::fprintf(stderr, "fuzz_seeds: scenario: %s\n", sError.c_str());
        return 1;
    }
    const std::string sHeader =
        std::string(RECORDING_MAGIC) + "\ndevice 7\nstarted 2026-01-01 12:00:00\nport COM3\nspeed 38400\n\n";
    Bytes file(sHeader.begin(), sHeader.end());
    long long iNowMs = 0, iRecordedMs = 0;
    int nMessages = 0;
    for (const devsim::Step& step : steps) {
        if (step.Kind == devsim::StepKind::Wait)
            iNowMs += step.iMs;
        else if (step.Kind == devsim::StepKind::At)
            iNowMs = std::max(iNowMs, step.iMs);
        if (step.Kind != devsim::StepKind::Send)
            continue;
        if (++nMessages == 5) {
            PutNumber(file, static_cast<unsigned long long>(iNowMs - iRecordedMs));
            file.push_back(0);
            PutNumber(file, 48);
            iRecordedMs = iNowMs;
        }
        for (std::size_t i = 0; i < step.Data.size(); i += 16) {
            const std::size_t n = std::min<std::size_t>(16, step.Data.size() - i);
            PutNumber(file, static_cast<unsigned long long>(iNowMs - iRecordedMs));
            PutNumber(file, n);
            file.insert(file.end(), step.Data.begin() + static_cast<long>(i),
                        step.Data.begin() + static_cast<long>(i + n));
            iRecordedMs = iNowMs;
        }
    }
    const Bytes cut(file.begin(), file.end() - 7);
    PutNumber(file, 1000);
    file.push_back(0);
    file.push_back(0);
    return WriteInput(sFolder, "recording", file) | WriteInput(sFolder, "recording-cut-short", cut);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: fuzz_seeds STREAM.hex SCENARIO.txt PROTOCOL-FOLDER RECORDING-FOLDER\n");
        return 2;
    }
    Bytes stream;
    std::string sError;
    if (LoadStreamFile(argv[1], stream, sError) != 0) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", sError.c_str());
        return 1;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream scenario;
    scenario << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "fuzz_seeds: cannot read %s\n", argv[2]);
        return 1;
    }
    int iFailed = StreamSeeds(argv[3], stream);
    iFailed |= ScenarioSeeds(argv[3], scenario.str(), false);
    iFailed |= ScenarioSeeds(argv[3], scenario.str(), true);
    const int nProtocol = iWritten;
    iFailed |= RecordingSeeds(argv[4], scenario.str());
    std::printf("fuzz_seeds: %d seeds in %s, %d in %s\n", nProtocol, argv[3], iWritten - nProtocol, argv[4]);
    return iFailed;
}
