#pragma once
// The driver's whole connection to the infodriver: a hidden window that finds the infodriver by a
// search message, exchanges slot texts with it as WM_COPYDATA transfer records, and passes the
// infodriver's events to the owner's callback. Used on the user-interface thread only.
#include <windows.h>

#include <cstdint>

#include "protocol/external.h" // DRAVIK_PRINTF

constexpr int CLIENT_HEADER_VERSION = 109;

// Window messages of the infodriver protocol.
enum : UINT {
    INFO_SEARCH = 2724,         // client -> all top-level windows: where is infodriver n?
    INFO_DETACH = 2725,         // client -> infodriver: hidden window destroyed
    INFO_WRITE = 2726,          // record: write slot
    INFO_READ = 2727,           // record: read slot
    INFO_SLOT_CHANGED = 2728,   // infodriver -> client: a slot was changed from outside
    INFO_HANDLE = 2729,         // infodriver -> client: the infodriver's window
    INFO_TEXT = 2730,           // infodriver -> client: a text for the client
    INFO_WRITE_NEGATIVE = 2731, // record: write slot given as a negative index
    INFO_REDUNDANCY = 2732,     // client -> infodriver: query redundancy state
    INFO_DRIVER_STATE = 2733,   // client -> infodriver: report driver state
    INFO_REPLY = 2984,          // record: reply to a record
    INFO_ATTACHED = 2031,       // client -> all top-level windows: client attached
    INFO_NOTIFY = 2032,         // infodriver -> client: notification value
    INFO_DISCONNECTED = 2175,   // infodriver -> client: infodriver has gone
    INFO_GO_RX_ONLY = 2179,     // infodriver -> client: request to go RX only
    INFO_GO_TXRX = 2180,        // infodriver -> client: request to go TXRX
    INFO_ID_IN_USE = 2190,      // infodriver -> client: device ID in use
    INFO_EXTENDED = 3124,       // client -> infodriver: extended registration
};

// Status codes held in iStatus.
enum : int {
    IDSTAT_NOT_CONNECTED = 3,
    IDSTAT_NUMBER_ZERO = 4,
    IDSTAT_NO_WINDOW = 5,
    IDSTAT_GO_TXRX = 6,
    IDSTAT_GO_RX_ONLY = 7,
    IDSTAT_CLASS_FAILED = 9,
    IDSTAT_CONNECTED = 15,
    IDSTAT_ID_IN_USE = 2190,
};

constexpr int SLOT_TEXT_CHARS = 512;                // longest slot text
constexpr DWORD TEXT_PAYLOAD = SLOT_TEXT_CHARS + 1; // cbData of a text record
constexpr DWORD NUMBER_PAYLOAD = 16;                // cbData of a numeric record
constexpr int NUMBER_DIGITS = 8;                    // "%08lx"
constexpr int READ_REPLY_CHARS = 256;               // a slot read hands back at most this much
constexpr int CLIENT_TEXT_BYTES = 300;              // pszText, filled by 2730
constexpr UINT SEARCH_TIMEOUT_MS = 2000;            // per window, for 2724 and 2031
constexpr DWORD SESSION_DETACH_MS = 1000;           // the detach's longest wait when the session ends
constexpr int CLASS_NAME_CHARS = 257;               // a window class name and its terminator

constexpr const char* CLIENT_CLASS_NAME = "extinfospwn";

// The record's dwData: message in the high half, index (or a reply's result) in the low half.
constexpr DWORD RecordTag(UINT iMessage, unsigned iIndex) {
    return static_cast<DWORD>(((iMessage & 0xFFFFu) << 16) | (iIndex & 0xFFFFu));
}
constexpr UINT RecordMessage(ULONG_PTR dwData) {
    return static_cast<UINT>((dwData >> 16) & 0xFFFFu);
}
constexpr unsigned RecordIndex(ULONG_PTR dwData) {
    return static_cast<unsigned>(dwData & 0xFFFFu);
}

class InfodriverClient;
// Event callback: the client, 0 / a slot index / a device ID, and a text valid during the call.
using InfodriverEventCallback = void (*)(InfodriverClient* pClient, int iValue, const char* pszText);

class InfodriverClient {
  public:
    explicit InfodriverClient(int iHeaderVersion);
    ~InfodriverClient();
    InfodriverClient(const InfodriverClient&) = delete;
    InfodriverClient& operator=(const InfodriverClient&) = delete;

    void SetCallback(InfodriverEventCallback pfn);
    void SetCounters(int* piWrites, int* piChanges);
    int Connect(int iNumber, HINSTANCE hInst, int iFlag, int iSpare, int iLow, int iHigh);
    // Destroys the hidden window, which tells the infodriver (2725). The destructor does it too.
    // With dwWaitMs the detach waits that long at most for the infodriver to take it.
    void Detach(DWORD dwWaitMs = INFINITE);

    bool UpdateSlot(int iIndex, const char* pszFormat, ...) DRAVIK_PRINTF(3, 4);
    void WriteSlot(int iIndex, const char* pszFormat, ...) DRAVIK_PRINTF(3, 4);
    // pszBuffer holds READ_REPLY_CHARS + 1 bytes.
    int ReadSlot(int iIndex, char* pszBuffer);
    int GetRedundancyState();
    void SetDriverState(int iValue);

    // Transfer records. A text record carries the 513 bytes at pData, and for iReplyLength > 0 the
    // reply's text comes back into pData (iReplyLength + 1 bytes). A numeric record carries ulNumber.
    // Both return the reply's result (a reply record: the SendMessage result).
    static LRESULT SendRecord(HWND hOwn, HWND hTarget, UINT iMessage, unsigned iIndex, char* pData,
                              int iReplyLength);
    static LRESULT SendRecord(HWND hOwn, HWND hTarget, UINT iMessage, unsigned iIndex,
                              unsigned long ulNumber);
    LRESULT ReceiveRecord(HWND hOwn, const COPYDATASTRUCT* pRecord);
    // The hidden window's handling of one infodriver message; pszText is the record's payload or
    // a plain message's text.
    LRESULT HandleMessage(UINT iMessage, WPARAM wParam, const char* pszMessageText);

    HWND hWnd = nullptr;
    int* piWriteCount = nullptr;
    int* piChangeCount = nullptr;
    int iWriteCount = 0;
    int iChangeCount = 0;
    HINSTANCE hInstance = nullptr;
    InfodriverEventCallback pfnCallback = nullptr;
    int iDevice = 0;
    HWND hInfodriver = nullptr;
    char* pszText = nullptr;
    int iStatus = 0;
    int iPermittedMode = 0;
    int iExtLow = 0;
    int iExtHigh = 0;
    int iExtSpare = 0;
    int bExtended = 0;
    int iExtFlag = 0;
    int iNotifyValue = 0;

    bool bSearching = false;  // the search is under way: any valid 2729 answer is taken
    bool bDestroying = false; // this client began its window's destruction
    DWORD dwDetachWaitMs = INFINITE;
    // The window class of the infodriver the search found; "" until then. A window named later
    // must be of this class.
    char szInfodriverClass[CLASS_NAME_CHARS] = "";

    static bool bClassRegistered;

    LRESULT OnCreate(HWND hOwn);
    // Whether a 2729 naming hNew may become hInfodriver.
    bool AcceptsInfodriverWindow(HWND hNew) const;

  private:
    void SendWrite(int iIndex, char* pszNew);
};

// Sends to the infodriver and waits for it, for ever or dwWaitMs at most (0 when that ran out, or
// the infodriver hangs). While it waits, the messages the infodriver sends in the meantime are
// handled inside it; the window's work loop is told, so that nothing of its runs nested inside the
// exchange (user-interface thread only, like every exchange).
// An answer that took more than a second, less the time the driver spent inside the exchange
// handling what the infodriver sent meanwhile, is logged once for a run of them.
LRESULT SendToInfodriver(HWND hTo, UINT iMessage, WPARAM wParam, LPARAM lParam, DWORD dwWaitMs = INFINITE);

// How the search sends to each top-level window: SendMessageTimeoutA. Tests put a stand-in here
// for what the system does and Wine does not (a send refused across privilege levels).
using SearchSendFunction = LRESULT(WINAPI*)(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam,
                                            UINT uFlags, UINT uTimeout, PDWORD_PTR pdwResult);
extern SearchSendFunction pfnSearchSend;
// Held while the hidden window handles a message: inside an exchange, its time is counted as the
// driver's own, not as the infodriver's time to answer.
class HandledInsideExchange {
  public:
    HandledInsideExchange();
    ~HandledInsideExchange();
    HandledInsideExchange(const HandledInsideExchange&) = delete;
    HandledInsideExchange& operator=(const HandledInsideExchange&) = delete;

  private:
    unsigned long* pulCount;
    DWORD dwStart;
};

// True for the messages the hidden window handles itself (the infodriver's, not the system's).
bool IsClientMessage(UINT iMessage);

LRESULT CALLBACK ClientWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);

// The driver's one client, constructed before the entry point (app/statics.cpp).
extern InfodriverClient Infodriver;

// A plain message carries only the low 16 bits of a window handle (user handles are 16-bit
// significant).
inline WPARAM WordFromHandle(HWND hWnd) {
    return reinterpret_cast<UINT_PTR>(hWnd) & 0xFFFFu;
}
