// publish.exe <infodriver number> <stream file>: feeds a recorded device byte stream through the
// protocol core into a running infodriver (or the stand-in) through the driver's real client.
// The stream file is hex text or raw bytes, as tools/memhost/streamfile.h describes.
#include "app/panel.h"
#include "infodriver/callback.h"
#include "infodriver/client.h"
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "tools/memhost/memhost.h"
#include "tools/memhost/streamfile.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int CONNECT_ATTEMPTS = 50; // 5 s for an infodriver that is still starting
// One notification per read of the port reader, as replay feeds it, so that the two publish alike.
constexpr std::size_t FEED_CHUNK = RECEIVE_CHUNK;

// Notifications from the infodriver arrive as sent messages; they are handled here between chunks.
void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: publish.exe <infodriver number> <stream file>\n");
        return 2;
    }
    int iNumber = std::atoi(argv[1]);
    std::vector<unsigned char> stream;
    std::string sError;
    if (iNumber < 1 || iNumber > 999) {
        std::fprintf(stderr, "publish: the infodriver number is 1..999\n");
        return 2;
    }
    if (LoadStreamFile(argv[2], stream, sError) != 0) {
        std::fprintf(stderr, "publish: %s\n", sError.c_str());
        return 2;
    }

    Infodriver.SetCallback(InfodriverCallback);
    int iStatus = 0;
    for (int i = 0; i < CONNECT_ATTEMPTS; ++i) {
        iStatus = Infodriver.Connect(iNumber, nullptr, 0, 0, 0, 0);
        if (iStatus == IDSTAT_CONNECTED)
            break;
        Sleep(100);
    }
    if (iStatus != IDSTAT_CONNECTED) {
        std::fprintf(stderr, "publish: no infodriver %d answered (status %d)\n", iNumber, iStatus);
        return 1;
    }
    Infodriver.SetCounters(&iInfodriverTx, &iInfodriverRx);

    for (std::size_t iAt = 0; iAt < stream.size(); iAt += FEED_CHUNK) {
        std::size_t nChunk = stream.size() - iAt < FEED_CHUNK ? stream.size() - iAt : FEED_CHUNK;
        memhost::QueueBytes(stream.data() + iAt, nChunk);
        do
            ReceiveAndPublish(nullptr);
        while (WorkWaiting());
        PumpMessages();
        if (Infodriver.iStatus == IDSTAT_NOT_CONNECTED)
            break;
    }
    std::printf("publish: %zu bytes, %d messages, %d slot writes to infodriver %d\n", stream.size(),
                iSerialRxCount, iInfodriverTx, iNumber);
    std::fflush(stdout);
    return Infodriver.iStatus == IDSTAT_NOT_CONNECTED ? 1 : 0;
}
