#include "infodriver/client.h"

#include "protocol/counter.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool InfodriverClient::bClassRegistered = false;

namespace {

void IgnoreEvent(InfodriverClient*, int, const char*) {}

// Indexes travel as 16 bits; a negative one selects the 2731 write.
unsigned WireIndex(int iIndex) {
    unsigned uIndex = iIndex < 0 ? 0u - static_cast<unsigned>(iIndex) : static_cast<unsigned>(iIndex);
    return uIndex & 0xFFFFu;
}

} // namespace

InfodriverClient::InfodriverClient(int iHeaderVersion) {
    if (iHeaderVersion != CLIENT_HEADER_VERSION)
        MessageBoxA(nullptr, "Header doesn't match library", "Error", MB_OK);
    iStatus = IDSTAT_NOT_CONNECTED;
    piWriteCount = &iWriteCount;
    piChangeCount = &iChangeCount;
    pfnCallback = IgnoreEvent;
    iPermittedMode = IDSTAT_GO_TXRX;
    pszText = new char[CLIENT_TEXT_BYTES]();
}

InfodriverClient::~InfodriverClient() {
    // The window first: while its detach waits, the infodriver may still send a 2730 text.
    Detach();
    delete[] pszText;
    pszText = nullptr;
}

void InfodriverClient::Detach(DWORD dwWaitMs) {
    if (hWnd != nullptr) {
        bDestroying = true;
        dwDetachWaitMs = dwWaitMs;
        DestroyWindow(hWnd);
        dwDetachWaitMs = INFINITE;
    }
    hWnd = nullptr;
}

void InfodriverClient::SetCallback(InfodriverEventCallback pfn) {
    pfnCallback = pfn != nullptr ? pfn : IgnoreEvent;
}

void InfodriverClient::SetCounters(int* piWrites, int* piChanges) {
    piWriteCount = piWrites != nullptr ? piWrites : &iWriteCount;
    piChangeCount = piChanges != nullptr ? piChanges : &iChangeCount;
}

int InfodriverClient::Connect(int iNumber, HINSTANCE hInst, int iFlag, int iSpare, int iLow, int iHigh) {
    hInstance = hInst;
    // The product in 32 bits, as the callers' values have always been combined.
    unsigned uProduct =
        static_cast<unsigned>(iFlag) * static_cast<unsigned>(iLow) * static_cast<unsigned>(iHigh);
    bExtended = uProduct != 0 ? 1 : 0;
    iExtLow = bExtended ? iLow : 0;
    iExtHigh = bExtended ? iHigh : 0;
    iExtSpare = bExtended ? iSpare : 0;
    iExtFlag = bExtended ? iFlag : 0;
    iStatus = IDSTAT_CONNECTED;

    if (!bClassRegistered) {
        WNDCLASSA wc{};
        wc.style = 0;
        wc.lpfnWndProc = ClientWindowProc;
        wc.cbClsExtra = 0;
        wc.cbWndExtra = sizeof(InfodriverClient*); // a pointer: 8 bytes on a 64-bit build
        wc.hInstance = hInstance != nullptr ? hInstance : GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = CLIENT_CLASS_NAME;
        if (RegisterClassA(&wc) == 0) {
            iStatus = IDSTAT_CLASS_FAILED;
            return iStatus;
        }
        bClassRegistered = true;
    }

    if (iNumber == 0) {
        iStatus = IDSTAT_NUMBER_ZERO;
        return iStatus;
    }

    iDevice = iNumber;
    hWnd = CreateWindowExA(0, CLIENT_CLASS_NAME, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                           hInstance != nullptr ? hInstance : GetModuleHandleA(nullptr), this);
    if (hWnd == nullptr)
        iStatus = IDSTAT_NO_WINDOW;
    return iStatus;
}

void InfodriverClient::SendWrite(int iIndex, char* pszNew) {
    *piWriteCount = NextCount(*piWriteCount);
    SendRecord(hWnd, hInfodriver, iIndex < 0 ? INFO_WRITE_NEGATIVE : INFO_WRITE, WireIndex(iIndex), pszNew,
               0);
}

bool InfodriverClient::UpdateSlot(int iIndex, const char* pszFormat, ...) {
    // Zero-filled, so that the filler sent to the infodriver is not this stack's old content.
    char szNew[TEXT_PAYLOAD] = {};
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szNew, sizeof szNew, pszFormat, args);
    va_end(args);

    char szHeld[TEXT_PAYLOAD] = {};
    SendRecord(hWnd, hInfodriver, INFO_READ, WireIndex(iIndex), szHeld, READ_REPLY_CHARS);
    // A read that came back full may have been cut: the slot may hold more than was seen, so a
    // text equal to what was seen is no proof that the slot already holds it.
    bool bCut = std::strlen(szHeld) >= static_cast<std::size_t>(READ_REPLY_CHARS);
    if (!bCut && std::strcmp(szNew, szHeld) == 0)
        return false;
    SendWrite(iIndex, szNew);
    return true;
}

void InfodriverClient::WriteSlot(int iIndex, const char* pszFormat, ...) {
    char szNew[TEXT_PAYLOAD] = {};
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szNew, sizeof szNew, pszFormat, args);
    va_end(args);
    SendWrite(iIndex, szNew);
}

int InfodriverClient::ReadSlot(int iIndex, char* pszBuffer) {
    // The request carries a whole text payload; the caller's buffer only has room for the reply.
    char szRead[TEXT_PAYLOAD] = {};
    LRESULT iResult = SendRecord(hWnd, hInfodriver, INFO_READ, WireIndex(iIndex), szRead, READ_REPLY_CHARS);
    std::memcpy(pszBuffer, szRead, READ_REPLY_CHARS + 1);
    return static_cast<int>(iResult);
}

int InfodriverClient::GetRedundancyState() {
    if (hInfodriver == nullptr)
        return 0;
    return static_cast<int>(SendToInfodriver(hInfodriver, INFO_REDUNDANCY, 0, 0));
}

void InfodriverClient::SetDriverState(int iValue) {
    if (hInfodriver != nullptr)
        SendToInfodriver(hInfodriver, INFO_DRIVER_STATE, static_cast<WPARAM>(iValue), 0);
}
