// The cost of UpdateSlot against standin.exe in its own process, next to the floor: a bare
// WM_COPYDATA ping-pong (a 513-byte record out, a 513-byte reply record back during the request)
// making the same number of cross-process exchanges.
#include "infodriver/client.h"
#include "tools/standin/process.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int NUMBER = 893;
constexpr int CALLS = 2000;             // per round
constexpr int ROUNDS = 7;               // the median round is reported
constexpr unsigned PING_MESSAGE = 3000; // not an infodriver message: the stand-in echoes it

char szPingReply[TEXT_PAYLOAD + 1];

// The ping's own window keeps the reply as the client keeps one: a bounded, terminated copy.
LRESULT CALLBACK PingWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iMessage == WM_COPYDATA) {
        auto* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (pData != nullptr && pData->lpData != nullptr && pData->cbData == TEXT_PAYLOAD) {
            std::memcpy(szPingReply, pData->lpData, TEXT_PAYLOAD);
            szPingReply[TEXT_PAYLOAD] = 0;
        }
        return 1;
    }
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}

double Now() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::string sStandin = argc > 1 ? argv[1] : STANDIN_EXE;
    StandinProcess standin;
    if (!standin.Start(sStandin, "-q " + std::to_string(NUMBER))) {
        std::fprintf(stderr, "bench: cannot start %s\n", sStandin.c_str());
        return 1;
    }
    InfodriverClient client(CLIENT_HEADER_VERSION);
    if (client.Connect(NUMBER, nullptr, 0, 0, 0, 0) != IDSTAT_CONNECTED) {
        std::fprintf(stderr, "bench: the stand-in did not answer\n");
        return 1;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = PingWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UpdateBenchPing";
    RegisterClassA(&wc);
    HWND hPing =
        CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);

    char Payload[TEXT_PAYLOAD] = "same";
    COPYDATASTRUCT ping{RecordTag(PING_MESSAGE, 100), TEXT_PAYLOAD, Payload};
    auto Ping = [&] {
        SendMessageA(client.hInfodriver, WM_COPYDATA, reinterpret_cast<WPARAM>(hPing),
                     reinterpret_cast<LPARAM>(&ping));
    };

    client.UpdateSlot(100, "same");
    for (int i = 0; i < 200; ++i) { // warm up both paths
        Ping();
        client.UpdateSlot(100, "same");
    }

    // Interleaved call by call, so that the load of a shared machine falls on all three alike.
    std::vector<double> pings, unchanged, changed;
    for (int iRound = 0; iRound < ROUNDS; ++iRound) {
        double dPing = 0, dSame = 0, dChanged = 0;
        for (int i = 0; i < CALLS; ++i) {
            double t0 = Now();
            Ping();
            double t1 = Now();
            client.UpdateSlot(100, "same");
            double t2 = Now();
            client.UpdateSlot(101, (i & 1) != 0 ? "odd" : "even");
            double t3 = Now();
            dPing += t1 - t0;
            dSame += t2 - t1;
            dChanged += t3 - t2;
        }
        pings.push_back(dPing / CALLS);
        unchanged.push_back(dSame / CALLS);
        changed.push_back(dChanged / CALLS);
    }
    if (client.iWriteCount != ROUNDS * CALLS + 1) {
        std::fprintf(stderr, "bench: %d writes, expected %d\n", client.iWriteCount, ROUNDS * CALLS + 1);
        return 1;
    }

    double dPing = Median(pings), dSame = Median(unchanged), dChanged = Median(changed);
    std::printf("infodriver link, %d calls x %d rounds, median round, out-of-process stand-in\n", CALLS,
                ROUNDS);
    std::printf("  WM_COPYDATA ping-pong (floor, 1 exchange)  %8.1f us\n", dPing);
    std::printf("  UpdateSlot unchanged   (1 exchange)        %8.1f us   ratio %.3f\n", dSame, dSame / dPing);
    std::printf("  UpdateSlot changed     (2 exchanges)       %8.1f us   ratio %.3f (to 2 x floor)\n",
                dChanged, dChanged / (2 * dPing));
    std::printf("  target ratio <= 1.15\n");
    DestroyWindow(hPing);
    return 0;
}
