#pragma once
// The stand-in's own reading and writing of transfer records, kept apart from the client's so
// that each side checks the other.
#include <windows.h>

#include <string>

namespace standin {

constexpr DWORD TEXT_BYTES = 513;
constexpr DWORD NUMBER_BYTES = 16;

struct Record {
    unsigned iMessage;           // high 16 bits of dwData
    unsigned iIndex;             // low 16 bits
    bool bText;                  // cbData 513
    char szText[TEXT_BYTES + 1]; // text payload, or the number's digits; always terminated
};

Record ParseRecord(const COPYDATASTRUCT& data);
// Both return what SendMessage returned.
LRESULT SendTextRecord(HWND hFrom, HWND hTo, unsigned iMessage, unsigned iIndex, const char* pszText);
LRESULT SendNumberRecord(HWND hFrom, HWND hTo, unsigned iMessage, unsigned iIndex, unsigned long ulNumber);

inline unsigned WordOf(HWND hWnd) {
    return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hWnd) & 0xFFFF);
}

} // namespace standin
