#include "tools/devsim/line.h"

#include <algorithm>
#include <cstdio>

namespace devsim {

int LineSettings::BitsPerCharacter() const {
    // Start bit, data, parity, stop bits (one and a half counted as two).
    return 1 + iDataBits + (iParity != NOPARITY ? 1 : 0) + (iStopBits == ONESTOPBIT ? 1 : 2);
}

std::string LineSettings::Describe() const {
    static const char szParity[] = "NOEMS";
    static const char* const pszStop[] = {"1", "1.5", "2"};
    char sz[64];
    std::snprintf(sz, sizeof sz, "COM%d %d,%d,%c,%s", iPort, iSpeed, iDataBits,
                  iParity >= 0 && iParity <= 4 ? szParity[iParity] : '?',
                  iStopBits >= 0 && iStopBits <= 2 ? pszStop[iStopBits] : "?");
    return sz;
}

Line::~Line() {
    if (hCom != INVALID_HANDLE_VALUE)
        CloseHandle(hCom);
}

bool Line::Open(const LineSettings& NewSettings, std::string& sError) {
    Settings = NewSettings;
    char szPath[32];
    std::snprintf(szPath, sizeof szPath, "\\\\.\\COM%d", Settings.iPort);
    hCom = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (hCom == INVALID_HANDLE_VALUE) {
        sError = std::string("cannot open ") + szPath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    GetCommState(hCom, &Dcb);
    Dcb.BaudRate = static_cast<DWORD>(Settings.iSpeed);
    Dcb.ByteSize = static_cast<BYTE>(Settings.iDataBits);
    Dcb.Parity = static_cast<BYTE>(Settings.iParity);
    Dcb.StopBits = static_cast<BYTE>(Settings.iStopBits);
    // A binary stream: no software or hardware flow control may eat or hold bytes.
    Dcb.fBinary = TRUE;
    Dcb.fParity = Settings.iParity != NOPARITY;
    Dcb.fOutX = Dcb.fInX = FALSE;
    Dcb.fOutxCtsFlow = Dcb.fOutxDsrFlow = FALSE;
    Dcb.fDsrSensitivity = FALSE;
    Dcb.fRtsControl = RTS_CONTROL_ENABLE;
    Dcb.fDtrControl = DTR_CONTROL_ENABLE;
    Dcb.fAbortOnError = FALSE;
    if (Settings.iSpeed <= 0 || !SetCommState(hCom, &Dcb)) {
        sError = "the port refused " + Settings.Describe();
        return false;
    }
    COMMTIMEOUTS Timeouts{20, 0, 100, 0, 5000};
    SetCommTimeouts(hCom, &Timeouts);
    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Start);
    return true;
}

double Line::Elapsed() const {
    LARGE_INTEGER Now;
    QueryPerformanceCounter(&Now);
    return static_cast<double>(Now.QuadPart - Start.QuadPart) * 1000.0 /
           static_cast<double>(Frequency.QuadPart);
}

void Line::WaitUntil(double dMs) const {
    // A minute at most a sleep: a longer wait (a slow --rate of a long recording) would not fit
    // the sleep's DWORD, whose top value means for ever.
    constexpr double LONGEST_SLEEP_MS = 60000;
    for (double dNow = Elapsed(); dNow < dMs; dNow = Elapsed())
        Sleep(dMs - dNow > 2 ? static_cast<DWORD>(std::min(dMs - dNow - 1, LONGEST_SLEEP_MS)) : 0);
}

bool Line::Send(const Bytes& Data) {
    // A real line takes its time per character; a virtual one would not.
    WaitUntil(dLineFreeAt);
    DWORD dwDone = 0;
    while (dwDone < Data.size()) {
        DWORD dwWritten = 0;
        if (!WriteFile(hCom, Data.data() + dwDone, static_cast<DWORD>(Data.size() - dwDone), &dwWritten,
                       nullptr) ||
            dwWritten == 0)
            return false;
        dwDone += dwWritten;
    }
    const double dCharMs = 1000.0 * Settings.BitsPerCharacter() / Settings.iSpeed;
    const double dNow = Elapsed();
    dLineFreeAt = (dLineFreeAt > dNow ? dLineFreeAt : dNow) + dCharMs * static_cast<double>(Data.size());
    return true;
}

Bytes Line::Receive(DWORD dwWaitMs) {
    COMMTIMEOUTS Timeouts{20, 0, dwWaitMs, 0, 5000};
    SetCommTimeouts(hCom, &Timeouts);
    Bytes Data(4096);
    DWORD dwRead = 0;
    if (!ReadFile(hCom, Data.data(), static_cast<DWORD>(Data.size()), &dwRead, nullptr))
        dwRead = 0;
    Data.resize(dwRead);
    return Data;
}

} // namespace devsim
