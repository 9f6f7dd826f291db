// Throughput of the receive path: ReceiveFromPort, framing, decoding and tally resolution, with
// the in-memory slot store answering every read. Prints bytes per second, ns per byte and the
// margin over the serial line rate.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/commands.h"
#include "protocol/link.h"
#include "protocol/settings.h"
#include "protocol/state.h"
#include "tools/memhost/memhost.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr double LINE_BYTES_PER_SECOND = 38400.0 / 10.0; // 8 data bits, start and stop bit
constexpr std::size_t NOTIFY_BYTES = 384;                // what 100 ms of line brings
constexpr std::size_t STREAM_BYTES = 4u << 20;

void Append(Bytes& stream, unsigned char bCommand, const Bytes& data) {
    stream.push_back(bCommand);
    stream.push_back(bCommand);
    stream.insert(stream.end(), data.begin(), data.end());
}

Bytes Data(unsigned char bCommand, unsigned char bFill) {
    return Bytes(static_cast<std::size_t>(MessageLength(bCommand, bExtensions) - 2), bFill);
}

// Mostly output messages and tally triggers, some block and group messages, few changes: a
// device that repeats its state and now and then cuts a camera.
Bytes RealisticMix() {
    Bytes stream;
    unsigned uTick = 0;
    while (stream.size() < STREAM_BYTES) {
        ++uTick;
        unsigned char bCut = static_cast<unsigned char>(1 + (uTick / 50) % 20); // a cut every 50 rounds
        for (unsigned char o = 0xB1; o <= 0xB4; ++o) {
            Bytes d = Data(o, 0);
            d[0] = bCut;
            d[2] = 93;
            d[3] = 0x03;
            d[5] = 40;
            Append(stream, o, d);
        }
        Append(stream, 0xD2, {});
        if (uTick % 5 == 0) {
            Bytes d = Data(static_cast<unsigned char>(0x81 + uTick / 5 % 4), 7);
            d[3] = 0x01;
            d[16] = bCut;
            Append(stream, static_cast<unsigned char>(0x81 + uTick / 5 % 4), d);
        }
        if (uTick % 10 == 0)
            Append(stream, static_cast<unsigned char>(0x91 + uTick / 10 % 2), Data(0x91, 3));
        if (uTick % 40 == 0) {
            Bytes d = Data(0xC1, 0);
            const char* pszName = "CAM 1";
            for (int i = 0; pszName[i] != 0; ++i)
                d[static_cast<std::size_t>(1 + i)] = static_cast<unsigned char>(pszName[i]);
            Append(stream, 0xC1, d);
        }
        if (uTick % 20 == 0)
            Append(stream, 0xD1, {});
    }
    return stream;
}

// Block messages in their long form whose every number and every flag changes each time.
Bytes WorstCase() {
    Bytes stream;
    unsigned uTick = 0;
    while (stream.size() < STREAM_BYTES) {
        for (unsigned char b = 0x81; b <= 0x84; ++b) {
            Bytes d = Data(b, 0);
            for (std::size_t o = 0; o < d.size(); ++o) {
                bool bFlagByte = o % 2 == 1; // offsets 3, 5, ...
                unsigned char bValue = bFlagByte ? 0x55 : static_cast<unsigned char>(17 + o);
                d[o] = uTick % 2 ? static_cast<unsigned char>(~bValue) : bValue;
            }
            Append(stream, b, d);
        }
        ++uTick;
    }
    return stream;
}

void Measure(const char* pszName, bool bExtended, Bytes (*pMake)()) {
    ResetProtocolState();
    memhost::Reset();
    memhost::ClearPort();
    memhost::SetRecording(false);
    bExtensions = bExtended;
    bCommsOK = true;
    Bytes stream = pMake();

    auto tStart = std::chrono::steady_clock::now();
    for (std::size_t p = 0; p < stream.size(); p += NOTIFY_BYTES) {
        std::size_t n = stream.size() - p < NOTIFY_BYTES ? stream.size() - p : NOTIFY_BYTES;
        memhost::QueueBytes(stream.data() + p, n);
        ReceiveAndPublish(nullptr);
    }
    while (WorkWaiting())
        ReceiveAndPublish(nullptr);
    auto tEnd = std::chrono::steady_clock::now();

    double dSeconds = std::chrono::duration<double>(tEnd - tStart).count();
    double dBytesPerSecond = static_cast<double>(stream.size()) / dSeconds;
    std::printf("%-44s %9.0f bytes/s  %7.1f ns/byte  %8.0fx line rate  (%lld reads, %lld writes, "
                "%d messages)\n",
                pszName, dBytesPerSecond, 1e9 / dBytesPerSecond, dBytesPerSecond / LINE_BYTES_PER_SECOND,
                memhost::ReadCount(), memhost::WriteCount(), iSerialRxCount);
}

} // namespace

int main() {
    memhost::SetDiagnostics(false, false);
    std::printf("Receive path throughput, %u bytes per notification, line rate %.0f bytes/s\n",
                static_cast<unsigned>(NOTIFY_BYTES), LINE_BYTES_PER_SECOND);
    Measure("(a) realistic mix", false, RealisticMix);
    Measure("(b) worst case: long blocks, all changing", true, WorstCase);
    return 0;
}
