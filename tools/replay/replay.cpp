// replay: feeds a recorded device byte stream through the protocol core, as the serial port would
// deliver it, and prints every slot write and, after each tally trigger, the lit tallies.
//
//   replay [stream.hex] [chunk bytes]
//
// The stream file holds hex byte pairs ('#' starts a comment) or raw bytes. Without a file, show.hex beside
// the program is used. Each chunk (default 16 bytes, the reader's read size) is one receive notification.
#include "protocol/assembly.h"
#include "protocol/publish.h"
#include "protocol/tally.h"
#include "tools/memhost/memhost.h"
#include "tools/memhost/streamfile.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Beside(const char* pszProgram, const char* pszFile) {
    std::string sPath = pszProgram;
    std::size_t nSlash = sPath.find_last_of("/\\");
    return nSlash == std::string::npos ? pszFile : sPath.substr(0, nSlash + 1) + pszFile;
}

std::size_t nPrintedWrites = 0;
std::size_t iPrintedLines = 0;

// What the last notification did: framing events from the debug list, then the slot writes.
void PrintNews() {
    const std::vector<std::string>& lines = memhost::DebugLines();
    for (; iPrintedLines < lines.size(); ++iPrintedLines)
        std::printf("  [debug] %s\n", lines[iPrintedLines].c_str());
    const std::vector<SlotWrite>& writes = memhost::Writes();
    for (; nPrintedWrites < writes.size(); ++nPrintedWrites)
        std::printf("  %d = \"%s\"\n", writes[nPrintedWrites].iSlot, writes[nPrintedWrites].sText.c_str());
}

void PrintLitTallies() {
    std::printf("  tallies lit:");
    int nLit = 0;
    for (int n = 1; n <= TALLY_COUNT; ++n)
        if (TallyLit[n] == 1) {
            std::printf(" %d", n);
            ++nLit;
        }
    std::printf(nLit == 0 ? " none\n" : "\n");
}

// One receive notification. Resolution clears all of TallyLit, entry 0 included, which no tally
// ever lights: a marker there tells whether a trigger was resolved.
void Notify(int iNotification) {
    TallyLit[0] = 1;
    // With the continuations the driver's window asks for when a pass ends early.
    do
        ReceiveAndPublish(nullptr);
    while (WorkWaiting());
    bool bResolved = TallyLit[0] == 0;
    if (memhost::Writes().size() == nPrintedWrites && memhost::DebugLines().size() == iPrintedLines &&
        !bResolved)
        return;
    std::printf("notification %d (%d bytes waiting after it)\n", iNotification, iWrtPtr);
    PrintNews();
    if (bResolved)
        PrintLitTallies();
}

} // namespace

int main(int argc, char** argv) {
    std::string sPath = argc > 1 ? argv[1] : Beside(argv[0], "show.hex");
    int iChunk = argc > 2 ? std::atoi(argv[2]) : RECEIVE_CHUNK;
    if (iChunk < 1) {
        std::fprintf(stderr, "usage: replay [stream.hex] [chunk bytes]\n");
        return 2;
    }
    std::vector<unsigned char> stream;
    std::string sError;
    if (LoadStreamFile(sPath, stream, sError) != 0) {
        std::fprintf(stderr, "replay: %s\n", sError.c_str());
        return 1;
    }

    memhost::SetDiagnostics(true, false);
    std::printf("replay: %s, %d bytes in chunks of %d\n", sPath.c_str(), static_cast<int>(stream.size()),
                iChunk);
    int iNotification = 0;
    for (std::size_t p = 0; p < stream.size(); p += static_cast<std::size_t>(iChunk)) {
        std::size_t n = std::min(stream.size() - p, static_cast<std::size_t>(iChunk));
        memhost::QueueBytes(stream.data() + p, n);
        Notify(++iNotification);
    }
    std::printf("replay: Rx count %d, %lld slot reads, %lld slot writes, %d bytes left unframed\n",
                iSerialRxCount, memhost::ReadCount(), memhost::WriteCount(), iWrtPtr);
    return 0;
}
