#pragma once
// Writing to the device end of a null-modem pair at a line rate: the ptys behind the pair pass
// bytes as fast as they are written, so the writer keeps the pace a real line would.
#include "tests/serial/rig.h"

#include <windows.h>

#include <vector>

// 10 bits a character (8N1). Returns when the last byte has been written.
inline void WriteAtLineRate(rig::Peer& Peer, const std::vector<BYTE>& Bytes, int iBitsPerSecond) {
    constexpr size_t SLICE = 32;
    const DWORD dwStart = GetTickCount();
    for (size_t nSent = 0; nSent < Bytes.size();) {
        const size_t n = Bytes.size() - nSent < SLICE ? Bytes.size() - nSent : SLICE;
        Peer.Write(Bytes.data() + nSent, n);
        nSent += n;
        const DWORD dwDue = static_cast<DWORD>(static_cast<double>(nSent) * 10000.0 / iBitsPerSecond);
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwDue > dwElapsed)
            Sleep(dwDue - dwElapsed);
    }
}
