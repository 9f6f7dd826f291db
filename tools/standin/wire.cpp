#include "tools/standin/wire.h"

#include <cstdio>
#include <cstring>

namespace standin {

Record ParseRecord(const COPYDATASTRUCT& data) {
    Record record{};
    record.iMessage = static_cast<unsigned>((data.dwData >> 16) & 0xFFFF);
    record.iIndex = static_cast<unsigned>(data.dwData & 0xFFFF);
    record.bText = data.cbData == TEXT_BYTES;
    DWORD cbLimit = record.bText ? TEXT_BYTES - 1 : 8; // a text of at most 512, a number of 8 digits
    DWORD cbRead = data.lpData != nullptr ? (data.cbData < cbLimit ? data.cbData : cbLimit) : 0;
    const char* pSource = static_cast<const char*>(data.lpData);
    for (DWORD i = 0; i < cbRead && pSource[i] != 0; ++i)
        record.szText[i] = pSource[i];
    return record;
}

LRESULT SendTextRecord(HWND hFrom, HWND hTo, unsigned iMessage, unsigned iIndex, const char* pszText) {
    char Payload[TEXT_BYTES] = {};
    std::strncpy(Payload, pszText, TEXT_BYTES - 1);
    COPYDATASTRUCT data{};
    data.dwData = ((iMessage & 0xFFFF) << 16) | (iIndex & 0xFFFF);
    data.cbData = TEXT_BYTES;
    data.lpData = Payload;
    return SendMessageA(hTo, WM_COPYDATA, reinterpret_cast<WPARAM>(hFrom), reinterpret_cast<LPARAM>(&data));
}

LRESULT SendNumberRecord(HWND hFrom, HWND hTo, unsigned iMessage, unsigned iIndex, unsigned long ulNumber) {
    char Payload[NUMBER_BYTES] = {};
    std::snprintf(Payload, 9, "%08lx", ulNumber);
    COPYDATASTRUCT data{};
    data.dwData = ((iMessage & 0xFFFF) << 16) | (iIndex & 0xFFFF);
    data.cbData = NUMBER_BYTES;
    data.lpData = Payload;
    return SendMessageA(hTo, WM_COPYDATA, reinterpret_cast<WPARAM>(hFrom), reinterpret_cast<LPARAM>(&data));
}

} // namespace standin
