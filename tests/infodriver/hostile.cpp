// hostile.exe <window handle in hex> [<address in hex>]: another process on the desktop sending the
// client's hidden window records and messages it must survive. The address, one that is mapped in
// the client's process, goes out in posted texts that must not be read. The exit code is the number
// of sends that did not come back (the window hung or died).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

HWND hTarget = nullptr;
int iFailures = 0;

LRESULT Send(UINT iMessage, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR dwResult = 0;
    // A send the system refuses to marshal (a foreign pointer in WM_CREATE) is this side's failure;
    // only a time-out or a vanished window counts against the client.
    if (SendMessageTimeoutA(hTarget, iMessage, wParam, lParam, SMTO_NORMAL, 5000, &dwResult) == 0 &&
        (GetLastError() == ERROR_TIMEOUT || !IsWindow(hTarget))) {
        ++iFailures;
        std::fprintf(stderr, "hostile: message %u (wParam %llx) did not come back\n", iMessage,
                     static_cast<unsigned long long>(wParam));
    }
    return static_cast<LRESULT>(dwResult);
}

void SendRecord(unsigned iMessage, unsigned iIndex, const void* pData, DWORD cbData) {
    COPYDATASTRUCT data{};
    data.dwData = (iMessage & 0xFFFFu) << 16 | (iIndex & 0xFFFFu);
    data.cbData = cbData;
    data.lpData = const_cast<void*>(pData);
    Send(WM_COPYDATA, data.dwData, reinterpret_cast<LPARAM>(&data));
}

// A window of this process that claims to be the infodriver.
HWND CreateSpy() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HostileSpy";
    RegisterClassA(&wc);
    return CreateWindowA("HostileSpy", "spy", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3)
        return 100;
    hTarget = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(argv[1], nullptr, 16)));
    const LPARAM lMapped = argc == 3 ? static_cast<LPARAM>(std::strtoull(argv[2], nullptr, 16)) : 0;

    // Posted, not sent: the system does not stand between the address and the client.
    if (lMapped != 0) {
        PostMessageA(hTarget, 2728, 2000, lMapped);
        PostMessageA(hTarget, 2730, 0, lMapped);
    }
    // Creation and destruction posted: they arrive as if from the client's own thread.
    PostMessageA(hTarget, WM_DESTROY, 0, 0);
    PostMessageA(hTarget, WM_NCDESTROY, 0, 0);
    PostMessageA(hTarget, WM_CREATE, 0, 0);

    // Redirection: a window of another process, a broadcast, the client itself, no window.
    HWND hSpy = CreateSpy();
    const WPARAM wSpy = reinterpret_cast<WPARAM>(hSpy);
    Send(2729, wSpy, 0);
    SendRecord(2729, static_cast<unsigned>(wSpy & 0xFFFF), "", 1);
    Send(2729, 0xFFFF, 0);
    SendRecord(2729, 0xFFFF, "", 1);
    Send(2729, reinterpret_cast<WPARAM>(hTarget), 0);
    Send(2729, 0x7777, 0);

    std::vector<char> text(513, 0);
    SendRecord(2728, 1500, nullptr, 513);   // no payload where a text belongs
    SendRecord(2728, 1501, text.data(), 0); // an empty record
    std::vector<char> unterminated(513, 'U');
    SendRecord(2728, 1502, unterminated.data(), 513);
    SendRecord(2728, 1503, "123", 3); // a number of three digits, no terminator
    std::vector<char> huge(100000, 'G');
    SendRecord(2728, 1504, huge.data(), static_cast<DWORD>(huge.size()));
    std::vector<char> edge(513, 0);
    edge[0] = 'e';
    SendRecord(2728, 65535, edge.data(), 513);
    SendRecord(2984, 99, "stale", 6); // a reply nobody asked for

    // System message numbers inside records: never creation, destruction, copy-data or defaults.
    std::vector<char> title(513, 0);
    title[0] = 'X';
    for (unsigned iMessage : {0x0001u, 0x0002u, 0x0082u, 0x000Cu, 0x000Du, 0x0010u, 0x004Au, 0u,
                              1023u}) // create, destroy, ncdestroy, settext, gettext, close, copydata
        SendRecord(iMessage, 0xFFFF, title.data(), 513);

    // Plain messages whose lParam would be a pointer in this process, not the client's.
    Send(2730, 0, 0x12345678);
    Send(2728, 1505, 0x12345678);
    Send(WM_CREATE, 0, 0x12345678);
    Send(WM_CREATE, 0, 0);
    Send(WM_DESTROY, 0, 0);
    Send(WM_NCDESTROY, 0, 0);
    Send(WM_CLOSE, 0, 0);
    Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    Send(2724, 0x42, 0x8000 | 41);
    Send(2031, 0x42, 0);
    DestroyWindow(hSpy);
    return iFailures;
}
