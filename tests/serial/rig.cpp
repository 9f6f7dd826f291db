#include "tests/serial/rig.h"

#include "serial/port_reader.h"
#include "serial/serial_port.h"
#include "tests/support/linux_command.h"
#include "tests/support/process_usage.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace rig {
namespace {

int RigPortAt(int iWhich) {
    const char* pszPorts = std::getenv("DRAVIK_RIG_PORTS");
    int iPorts[2] = {5, 6};
    if (pszPorts)
        std::sscanf(pszPorts, "%d,%d", &iPorts[0], &iPorts[1]);
    return iPorts[iWhich];
}

HANDLE OpenPlain(int iPort, DWORD dwFlags) {
    char szPath[32];
    std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", iPort);
    return CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, dwFlags, nullptr);
}

} // namespace

int DriverPort() {
    return RigPortAt(0);
}
int PeerPort() {
    return RigPortAt(1);
}

std::string LinuxPath(int iPort) {
    const char* pszDir = std::getenv("DRAVIK_RIG_DIR");
    return std::string(pszDir ? pszDir : "/tmp") + "/com" + std::to_string(iPort);
}

std::string LinuxLineSettings(int iPort) {
    std::string sSettings;
    return RunLinuxCommand("stty -a -F " + LinuxPath(iPort), 5000, &sSettings) == 0 ? sSettings : "";
}

bool LineHeld(int iPort, std::string* psHolders) {
    // One line per process holding it: its pid and its command line.
    const std::string sCommand =
        "t=$(readlink -f " + LinuxPath(iPort) +
        "); for p in $(find /proc/[0-9]*/fd -maxdepth 1 -lname $t 2>/dev/null | "
        "cut -d/ -f3 | sort -u); do echo $p $(tr '\\0' ' ' </proc/$p/cmdline); done; true";
    std::string sHolders;
    const bool bListed = RunLinuxCommand(sCommand, 30000, &sHolders) == 0;
    if (psHolders)
        *psHolders = sHolders;
    if (!bListed)
        return true;
    std::istringstream In(sHolders);
    for (std::string sLine; std::getline(In, sLine);)
        if (sLine.find(" socat ") == std::string::npos)
            return true;
    return false;
}

void DrainPair() {
    DrainPair(DriverPort(), PeerPort());
}

void DrainPair(int iDriverPort, int iPeerPort) {
    HANDLE hPeer = OpenPlain(iPeerPort, FILE_ATTRIBUTE_NORMAL);
    if (hPeer != INVALID_HANDLE_VALUE) {
        PurgeComm(hPeer, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle(hPeer);
    }
    // What socat still holds arrives later: read until the line has been quiet for 100 ms.
    HANDLE hDriver = OpenPlain(iDriverPort, FILE_ATTRIBUTE_NORMAL);
    if (hDriver == INVALID_HANDLE_VALUE)
        return;
    COMMTIMEOUTS Timeouts{0, 0, 100, 0, 0};
    SetCommTimeouts(hDriver, &Timeouts);
    BYTE Buffer[4096];
    DWORD dwRead = 0;
    const DWORD dwStart = GetTickCount();
    while (ReadFile(hDriver, Buffer, sizeof Buffer, &dwRead, nullptr) && dwRead > 0 &&
           GetTickCount() - dwStart < 3000)
        ;
    PurgeComm(hDriver, PURGE_RXCLEAR);
    CloseHandle(hDriver);
}

int ThreadCount() {
    return static_cast<int>(ThreadIdsOf(GetCurrentProcessId()).size());
}

std::vector<BYTE> Pattern(size_t nBytes, unsigned iSeed) {
    std::vector<BYTE> Bytes(nBytes);
    unsigned x = iSeed * 2654435761u + 12345;
    for (auto& b : Bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<BYTE>(x >> 16);
    }
    return Bytes;
}

Peer::Peer(int iSpeed, int iPort) : hCom(OpenPlain(iPort, FILE_ATTRIBUTE_NORMAL)) {
    if (hCom == INVALID_HANDLE_VALUE)
        return;
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    GetCommState(hCom, &Dcb);
    Dcb.BaudRate = iSpeed;
    Dcb.ByteSize = 8;
    Dcb.Parity = NOPARITY;
    Dcb.StopBits = ONESTOPBIT;
    Dcb.fBinary = TRUE;
    Dcb.fOutX = Dcb.fInX = FALSE;
    Dcb.fOutxCtsFlow = Dcb.fOutxDsrFlow = FALSE;
    Dcb.fRtsControl = RTS_CONTROL_ENABLE;
    Dcb.fDtrControl = DTR_CONTROL_ENABLE;
    SetCommState(hCom, &Dcb);
    // A peer whose partner stopped reading must not block a test for ever.
    COMMTIMEOUTS Timeouts{MAXDWORD, 0, 0, 0, 500};
    SetCommTimeouts(hCom, &Timeouts);
    PurgeComm(hCom, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

Peer::~Peer() {
    if (hCom != INVALID_HANDLE_VALUE)
        CloseHandle(hCom);
}

DWORD Peer::Write(const BYTE* pBytes, size_t nBytes) {
    DWORD dwTotal = 0;
    while (dwTotal < nBytes) {
        DWORD dwWritten = 0;
        if (!WriteFile(hCom, pBytes + dwTotal, static_cast<DWORD>(nBytes - dwTotal), &dwWritten, nullptr) ||
            dwWritten == 0)
            break;
        dwTotal += dwWritten;
    }
    return dwTotal;
}

NotifyWindow::NotifyWindow() {
    static const char szClass[] = "DravikSerialTestWindow";
    WNDCLASSA Class{};
    Class.lpfnWndProc = Proc;
    Class.hInstance = GetModuleHandleA(nullptr);
    Class.lpszClassName = szClass;
    RegisterClassA(&Class); // fails harmlessly once registered
    hWnd = CreateWindowA(szClass, "serial test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         Class.hInstance, this);
}

NotifyWindow::~NotifyWindow() {
    if (hWnd)
        DestroyWindow(hWnd);
}

LRESULT CALLBACK NotifyWindow::Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_NCCREATE)
        SetWindowLongPtrA(
            hWnd, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* pSelf = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (uMsg == PORT_NOTIFY_MESSAGE && pSelf) {
        ++pSelf->iNotifications;
        auto* pPort = reinterpret_cast<SerialPort*>(lParam);
        pSelf->pLastOwner = pPort;
        if (pSelf->bDrain) {
            BYTE Chunk[16];
            for (;;) {
                COMSTAT Status{};
                DWORD dwErrors = 0;
                pPort->GetStatus(&Status, &dwErrors);
                int n = pPort->Read(Chunk, sizeof Chunk);
                if (n <= 0)
                    break;
                pSelf->Bytes.insert(pSelf->Bytes.end(), Chunk, Chunk + n);
            }
        }
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

void NotifyWindow::Pump(DWORD dwMs) {
    PumpUntil([] { return false; }, dwMs);
}

bool NotifyWindow::PumpUntil(const std::function<bool()>& bDone, DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        // Notifications may keep coming: the time limit holds inside the loop too.
        MSG Msg;
        while (GetTickCount() - dwStart < dwMs && PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&Msg);
            DispatchMessageA(&Msg);
        }
        if (bDone())
            return true;
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMs - dwElapsed < 5 ? dwMs - dwElapsed : 5,
                                  QS_ALLINPUT);
    }
}

} // namespace rig
