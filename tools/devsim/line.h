#pragma once
// The simulator's end of the serial line: a COM port with given settings, written at the pace of
// the line speed, or read with time stamps for a capture.
#include "tools/devsim/messages.h"

#include <windows.h>

#include <string>

namespace devsim {

struct LineSettings {
    int iPort = 0;
    int iSpeed = 38400;
    int iDataBits = 8;
    int iParity = NOPARITY;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int iStopBits = ONESTOPBIT; // 0 one, 1 one and a half, 2 two
    int BitsPerCharacter() const;
    std::string Describe() const;
};

class Line {
  public:
    Line() = default;
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // False with a reason in sError when the port cannot be opened or set up.
    bool Open(const LineSettings& Settings, std::string& sError);
    // Writes the bytes, waiting first so that no byte leaves faster than the line speed allows.
    bool Send(const Bytes& Data);
    // Milliseconds since Open.
    double Elapsed() const;
    // Waits until dwMs after Open.
    void WaitUntil(double dMs) const;
    // Reads what arrives, up to dwWaitMs; the bytes of one chunk.
    Bytes Receive(DWORD dwWaitMs);

  private:
    HANDLE hCom = INVALID_HANDLE_VALUE;
    LineSettings Settings;
    LARGE_INTEGER Start{}, Frequency{};
    double dLineFreeAt = 0; // ms since Open when the last byte has left
};

} // namespace devsim
