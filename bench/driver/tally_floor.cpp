// tally_floor.exe <infodriver number> <COM port> [speed]
// The least a program must do to publish a tally from the line: the driver's own serial layer and
// infodriver client, a hidden window notified as the driver's is, a framer that only looks for the
// output messages' first root and the trigger, and write-if-changed of the tally that went out
// and the one that came on, in slot order. No decoding, no pending set, no panel: driver_bench
// runs it in turn with the driver to measure what the driver adds to a tally's latency.
#include "infodriver/client.h"
#include "protocol/commands.h"
#include "serial/device_port.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT_PTR READ_SIZE = 16;
constexpr unsigned char OUTPUT_COMMAND = 0xB1;
constexpr int ROOT_OFFSET = 2;

unsigned char Buffer[4096];
int iHeld = 0;
int iRoot = 0; // the root of the last output message
int iLit = 0;  // the tally published as lit

void Publish() {
    const int iOn = iRoot >= 1 && iRoot <= 128 ? iRoot : 0;
    if (iOn == iLit)
        return;
    const int iLow = iLit < iOn ? iLit : iOn;
    const int iHigh = iLit < iOn ? iOn : iLit;
    for (int iSlot : {iLow, iHigh})
        if (iSlot >= 1)
            Infodriver.UpdateSlot(iSlot, "%s", iSlot == iOn ? "1" : "0");
    iLit = iOn;
}

// Whole messages off the front of the buffer; what does not frame is skipped a byte at a time.
void Frame() {
    int i = 0;
    while (i + 1 < iHeld) {
        const unsigned char b = Buffer[i];
        if (b < FIRST_COMMAND_BYTE || Buffer[i + 1] != b || KindOf(b) == MessageKind::Unrecognised) {
            ++i;
            continue;
        }
        const int iLength = MessageLength(b, false);
        if (iHeld - i < iLength)
            break;
        if (b == OUTPUT_COMMAND)
            iRoot = Buffer[i + ROOT_OFFSET];
        else if (KindOf(b) == MessageKind::Trigger)
            Publish();
        i += iLength;
    }
    std::memmove(Buffer, Buffer + i, static_cast<std::size_t>(iHeld - i));
    iHeld -= i;
}

LRESULT CALLBACK FloorWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    if (iMessage != WM_COMMNOTIFY || reinterpret_cast<SerialPort*>(lParam) != &DevicePort)
        return DefWindowProcA(hWnd, iMessage, wParam, lParam);
    for (int n; iHeld < static_cast<int>(sizeof Buffer) &&
                (n = DevicePort.Read(Buffer + iHeld, static_cast<int>(sizeof Buffer) - iHeld)) > 0;) {
        iHeld += n;
        Frame();
    }
    if (iHeld == static_cast<int>(sizeof Buffer))
        iHeld = 0;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: tally_floor.exe <infodriver number> <COM port> [speed]\n", stderr);
        return 2;
    }
    const int iNumber = std::atoi(argv[1]);
    if (Infodriver.Connect(iNumber, nullptr, 0, 0, 0, 0) != IDSTAT_CONNECTED) {
        std::fprintf(stderr, "tally_floor: no infodriver %d answered\n", iNumber);
        return 1;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = FloorWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DravikTallyFloor";
    RegisterClassA(&wc);
    HWND hWnd =
        CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    DevicePort.SetSpeed(argc > 3 ? std::atoi(argv[3]) : 38400);
    if (hWnd == nullptr || DevicePort.Open(std::atoi(argv[2])) != 1) {
        std::fprintf(stderr, "tally_floor: COM%s is not available\n", argv[2]);
        return 1;
    }
    DevicePort.SetNotifyWindow(hWnd, READ_SIZE);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
