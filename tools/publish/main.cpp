// publish.exe <infodriver number> <stream file>: feeds a recorded device byte stream through the
// protocol core into a running infodriver (or the stand-in) through the driver's real client.
// The stream file is either hex text (pairs of hex digits, blanks and line breaks between them,
// '#' or ';' starting a comment to the end of the line) or, failing that, raw bytes.
#include "app/diagnostics.h"
#include "infodriver/callback.h"
#include "infodriver/client.h"
#include "protocol/assembly.h"
#include "tools/memhost/memhost.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int CONNECT_ATTEMPTS = 50;   // 5 s for an infodriver that is still starting
constexpr std::size_t FEED_CHUNK = 64; // bytes per receive notification, as a port delivers them

bool ParseHex(const std::vector<unsigned char>& text, std::vector<unsigned char>& bytes) {
    bytes.clear();
    int iHigh = -1;
    bool bComment = false;
    for (unsigned char c : text) {
        if (bComment) {
            bComment = c != '\n';
            continue;
        }
        if (c == '#' || c == ';') {
            bComment = true;
        } else if (std::isxdigit(c)) {
            int iNibble = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
            if (iHigh < 0) {
                iHigh = iNibble;
            } else {
                bytes.push_back(static_cast<unsigned char>(iHigh * 16 + iNibble));
                iHigh = -1;
            }
        } else if (!std::isspace(c) && c != ',') {
            return false;
        }
    }
    return iHigh < 0;
}

bool LoadStream(const char* pszPath, std::vector<unsigned char>& bytes) {
    FILE* pFile = std::fopen(pszPath, "rb");
    if (pFile == nullptr)
        return false;
    std::vector<unsigned char> content;
    unsigned char Buffer[4096];
    std::size_t n;
    while ((n = std::fread(Buffer, 1, sizeof Buffer, pFile)) > 0)
        content.insert(content.end(), Buffer, Buffer + n);
    std::fclose(pFile);
    if (!ParseHex(content, bytes))
        bytes = content;
    return true;
}

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
    if (iNumber < 1 || iNumber > 999 || !LoadStream(argv[2], stream)) {
        std::fprintf(stderr, "publish: need a number 1..999 and a readable stream file\n");
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
        ReceiveFromPort(nullptr);
        PumpMessages();
        if (Infodriver.iStatus == IDSTAT_NOT_CONNECTED)
            break;
    }
    std::printf("publish: %zu bytes, %d messages, %d slot writes to infodriver %d\n", stream.size(),
                iSerialRxCount, iInfodriverTx, iNumber);
    std::fflush(stdout);
    return Infodriver.iStatus == IDSTAT_NOT_CONNECTED ? 1 : 0;
}
