// A backlog of minutes framed through the real receive queue: what the serial layer adds to the
// protocol core's speed when the window works through what waited while it was held.
//   scripts/nullmodem.sh run 7 8 -- wine $DRAVIK_BUILD/bench/serial/backlog_bench.exe 7 [megabytes]
// The driver's SerialPort opens COM<port> (for its status polls; nothing is sent on the line), the
// backlog is delivered into its queue as the reader delivers chunks, then drained with the window's
// receive slices, publishing into the in-memory slot store. Set beside the protocol benchmark (the
// core from memory), the difference is the serial layer's.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/state.h"
#include "serial/device_port.h"
#include "serial/port_reader.h"
#include "serial/port_table.h"
#include "serial/rx_queue.h"
#include "tests/support/random_stream.h"
#include "tools/memhost/memhost.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

SerialPort DevicePort;
// The in-memory store's arrivals go to the in-memory port, which this program has not: the bytes
// come through the real queue.
void memhost::QueueBytes(const std::vector<unsigned char>&) {}

namespace {

constexpr int CHUNK = 64; // as the reader delivers a busy line
//                          block group short output text marker trigger garbage
constexpr StreamMix MIX = {1, 1, 1, 0, 1, 1, 1, 0};

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

StreamBytes Backlog(std::size_t nBytes) {
    RandomStream Source(20261210u, MIX, LINE_RATE_REPEAT_PERCENT);
    StreamBytes Bytes;
    while (Bytes.size() < nBytes) {
        const StreamBytes Item = Source.Next();
        Bytes.insert(Bytes.end(), Item.begin(), Item.end());
    }
    return Bytes;
}

void Reset() {
    ResetProtocolState();
    memhost::Reset();
    memhost::ResetShell();
    memhost::SetRecording(false);
    memhost::SetDiagnostics(false, false);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: backlog_bench.exe <COM port> [megabytes]\n", stderr);
        return 2;
    }
    const double dMegabytes = argc > 2 ? std::atof(argv[2]) : 3.3;
    const StreamBytes Bytes = Backlog(static_cast<std::size_t>(dMegabytes * 1024 * 1024));
    iRxQueueSize = RX_QUEUE_BYTES;
    DevicePort.SetSpeed(115200);
    if (DevicePort.Open(std::atoi(argv[1])) != 1) {
        std::fprintf(stderr, "cannot open COM%s\n", argv[1]);
        return 1;
    }
    PortRecord Reader{};
    PortPeek(DevicePort.GetIndex(), &Reader);

    Reset();
    for (std::size_t i = 0; i < Bytes.size(); i += CHUNK)
        PortDeliver(Reader, Bytes.data() + i,
                    static_cast<int>(Bytes.size() - i < CHUNK ? Bytes.size() - i : CHUNK));
    int iSlices = 0;
    const double dStart = Seconds();
    do {
        ReceiveSlice(&DevicePort);
        ++iSlices;
    } while (WorkWaiting() || DevicePort.HasInput());
    const double dQueue = Seconds() - dStart;
    const int iMessages = iSerialRxCount;

    std::printf("backlog of %.2f MB, %d messages, through the receive queue: %.3f s, %.1f MB/s (%d slices)\n",
                static_cast<double>(Bytes.size()) / 1048576.0, iMessages, dQueue,
                static_cast<double>(Bytes.size()) / 1048576.0 / dQueue, iSlices);
    DevicePort.Close();
    return 0;
}
