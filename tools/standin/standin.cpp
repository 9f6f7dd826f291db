// The stand-in's slot store and its window: the infodriver's side of every exchange.
#include "tools/standin/standin.h"
#include "tools/standin/events.h"
#include "tools/standin/wire.h"

#include <array>
#include <cstring>

namespace standin {
namespace {

constexpr const char* STANDIN_CLASS_NAME = "InfodriverStandin";
constexpr std::size_t MAX_RECORDS = 20000; // kept for inspection; later ones are served, not kept

HWND hStandin = nullptr;
std::vector<HWND> FormerWindows; // windows given up by MoveToNewWindow, destroyed at Stop
int iNumber = 0;
int iRedundancy = DEFAULT_REDUNDANCY;
bool bQuiet = false;
unsigned uDelayUs = 0;
unsigned uStallMs = 0; // the next answer's stall
// Signalled from any thread to end a stall early (auto-reset); armed anew with each stall.
HANDLE hStallRelease = CreateEventA(nullptr, FALSE, FALSE, nullptr);
std::vector<std::string> Slots;
std::array<HWND, MAX_CLIENTS> Clients{};
int iClients = 0;
long lReads = 0;
long lWrites = 0;
int iDetaches = 0;
std::vector<int> States;
std::vector<RawRecord> RecordLog;
const std::string sNone;

constexpr UINT_PTR PRUNE_TIMER = 1;
constexpr UINT PRUNE_PERIOD_MS = 50;
constexpr int PRUNE_TRIES = 40;
int iPruneTries = 0;

// The armed nested change (DeferSlot).
bool bDeferred = false;
int iDeferredSlot = 0;
std::string sDeferredText;

// Sleeps the whole milliseconds and waits out the rest: a precise delay that costs no processor
// time for the usual whole-millisecond settings.
void DelayAnswer() {
    if (uStallMs != 0) {
        const unsigned uMs = uStallMs;
        uStallMs = 0;
        Emit("stall-begins %u", uMs);
        WaitForSingleObject(hStallRelease, uMs);
        Emit("stall-over %u", uMs);
    }
    if (uDelayUs == 0)
        return;
    LARGE_INTEGER Frequency{}, Start{}, Now{};
    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Start);
    Sleep(uDelayUs / 1000);
    const LONGLONG llTicks = Frequency.QuadPart * uDelayUs / 1000000;
    do
        QueryPerformanceCounter(&Now);
    while (Now.QuadPart - Start.QuadPart < llTicks);
}

bool ValidSlot(int iSlot) {
    return iSlot > 0 && iSlot < SLOT_COUNT;
}

// Clients are known by the low 16 bits of their handles: that is all a plain message carries.
bool SameWindow(HWND a, HWND b) {
    return WordOf(a) == WordOf(b);
}

int FindClient(HWND hClient) {
    for (int i = 0; i < iClients; ++i)
        if (SameWindow(Clients[i], hClient))
            return i;
    return -1;
}

void AddClient(HWND hClient) {
    if (FindClient(hClient) >= 0 || iClients == MAX_CLIENTS)
        return;
    Clients[iClients++] = hClient;
    Emit("attach %s", HandleText(hClient).c_str());
}

// Returns the number of clients forgotten.
int PruneClients() {
    int iBefore = iClients;
    int iKept = 0;
    for (int i = 0; i < iClients; ++i) {
        if (IsWindow(Clients[i]))
            Clients[iKept++] = Clients[i];
        else
            Emit("gone %s", HandleText(Clients[i]).c_str());
    }
    iClients = iKept;
    return iBefore - iKept;
}

void SendChange(HWND hClient, int iSlot, const std::string& sText) {
    LRESULT iResult = SendTextRecord(hStandin, hClient, 2728, static_cast<unsigned>(iSlot), sText.c_str());
    Emit("sent 2728 %s %d %s", HandleText(hClient).c_str(), static_cast<int>(iResult),
         Escaped(sText).c_str());
}

void RunDeferred(HWND hClient) {
    if (!bDeferred)
        return;
    bDeferred = false;
    Slots[iDeferredSlot] = sDeferredText;
    SendChange(hClient, iDeferredSlot, sDeferredText);
}

// The answer to a request is sent back during it; the request's own payload kind is kept.
void Answer(HWND hClient, const Record& record, unsigned iResult, const char* pszText) {
    RunDeferred(hClient);
    if (record.bText)
        SendTextRecord(hStandin, hClient, 2984, iResult, pszText);
    else
        SendNumberRecord(hStandin, hClient, 2984, iResult, 0);
}

LRESULT OnRecord(HWND hSender, const COPYDATASTRUCT* pData) {
    if (pData == nullptr)
        return 1;
    if (!bQuiet && RecordLog.size() < MAX_RECORDS) {
        RawRecord raw{hSender, pData->dwData, pData->cbData, {}};
        if (pData->lpData != nullptr)
            raw.bytes.assign(static_cast<const unsigned char*>(pData->lpData),
                             static_cast<const unsigned char*>(pData->lpData) + pData->cbData);
        RecordLog.push_back(std::move(raw));
    }

    Record record = ParseRecord(*pData);
    if (record.iMessage == 2984) { // a client's answer to one of our records: answers are not answered
        Emit("reply %s %u %s", HandleText(hSender).c_str(), record.iIndex, Escaped(record.szText).c_str());
        return 1;
    }
    DelayAnswer();
    int iSlot = static_cast<int>(record.iIndex);
    switch (record.iMessage) {
        case 2726:
        case 2731:
            if (!ValidSlot(iSlot)) {
                Answer(hSender, record, 0, record.szText);
                return 1;
            }
            Slots[iSlot] = record.szText;
            ++lWrites;
            if (!bQuiet)
                Emit("write %d %u %s %s", iSlot, record.iMessage, HandleText(hSender).c_str(),
                     Escaped(Slots[iSlot]).c_str());
            Answer(hSender, record, 1, Slots[iSlot].c_str());
            return 1;
        case 2727:
            ++lReads;
            if (!bQuiet)
                Emit("read %d %s %s", iSlot, HandleText(hSender).c_str(), Escaped(SlotText(iSlot)).c_str());
            Answer(hSender, record, ValidSlot(iSlot) ? 1 : 0, SlotText(iSlot).c_str());
            return 1;
        default:
            // Anything else is echoed with result 0: the benchmark's ping uses this.
            Answer(hSender, record, 0, record.szText);
            return 1;
    }
}

LRESULT CALLBACK StandinWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    switch (iMessage) {
        case 2724: {
            // The search: bit 15 marks it, the low 15 bits name the infodriver wanted.
            if ((lParam & 0x8000) == 0 || (lParam & 0x7FFF) != (iNumber & 0x7FFF))
                return 0;
            HWND hClient = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wParam & 0xFFFF));
            Emit("search %s", HandleText(hClient).c_str());
            AddClient(hClient);
            SendMessageA(hClient, 2729, reinterpret_cast<WPARAM>(hWnd), 0);
            return 0;
        }
        case 2031:
            if (FindClient(reinterpret_cast<HWND>(static_cast<UINT_PTR>(wParam & 0xFFFF))) >= 0)
                Emit("announce %s",
                     HandleText(reinterpret_cast<HWND>(static_cast<UINT_PTR>(wParam & 0xFFFF))).c_str());
            return 0;
        case 2725:
            // The detach names only the device: the departing window is forgotten once it has gone.
            ++iDetaches;
            Emit("detach %ld", static_cast<long>(lParam));
            // The window goes only after this answer; look for it a few times.
            iPruneTries = PRUNE_TRIES;
            SetTimer(hWnd, PRUNE_TIMER, PRUNE_PERIOD_MS, nullptr);
            return 0;
        case WM_TIMER:
            if (wParam == PRUNE_TIMER && (PruneClients() > 0 || --iPruneTries <= 0))
                KillTimer(hWnd, PRUNE_TIMER);
            return 0;
        case 2732:
            DelayAnswer();
            Emit("redundancy %d", iRedundancy);
            return iRedundancy;
        case 2733:
            DelayAnswer();
            States.push_back(static_cast<int>(wParam));
            Emit("driver-state %d", static_cast<int>(wParam));
            return 0;
        case 3124:
            Emit("extended %u %ld", static_cast<unsigned>(wParam & 0xFFFF), static_cast<long>(lParam));
            return 0;
        case WM_COPYDATA:
            return OnRecord(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_STANDIN_COMMAND: {
            static bool bQuitting = false; // lines still queued behind a quit are dropped
            char* pszLine = reinterpret_cast<char*>(lParam);
            if (!bQuitting && RunCommand(pszLine != nullptr ? pszLine : "quit") == 1) {
                bQuitting = true;
                PostQuitMessage(0);
            }
            delete[] pszLine;
            return 0;
        }
        default:
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
    }
}

} // namespace

bool Start(int iNum, LineSink pfnSink) {
    SetSink(pfnSink);
    static bool bRegistered = false;
    if (!bRegistered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = StandinWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = STANDIN_CLASS_NAME;
        if (RegisterClassA(&wc) == 0)
            return false;
        bRegistered = true;
    }
    iNumber = iNum;
    Slots.assign(SLOT_COUNT, std::string());
    // A top-level window (not message-only) so that the client's search reaches it.
    char szTitle[32];
    wsprintfA(szTitle, "Infodriver %d", iNum);
    hStandin = CreateWindowExA(0, STANDIN_CLASS_NAME, szTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    if (hStandin == nullptr)
        return false;
    Emit("ready %d %s", iNum, HandleText(hStandin).c_str());
    return true;
}

void Stop() {
    if (hStandin != nullptr)
        DestroyWindow(hStandin);
    hStandin = nullptr;
    for (HWND hFormer : FormerWindows)
        DestroyWindow(hFormer);
    FormerWindows.clear();
    Slots.clear();
    iClients = 0;
    lReads = lWrites = 0;
    iDetaches = 0;
    States.clear();
    RecordLog.clear();
    iRedundancy = DEFAULT_REDUNDANCY;
    bQuiet = false;
    uDelayUs = 0;
    uStallMs = 0;
    bDeferred = false;
}

HWND Window() {
    return hStandin;
}

HWND MoveToNewWindow() {
    HWND hNew = CreateWindowExA(0, STANDIN_CLASS_NAME, "Infodriver", 0, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (hNew == nullptr)
        return nullptr;
    FormerWindows.push_back(hStandin);
    hStandin = hNew;
    Emit("moved %s", HandleText(hNew).c_str());
    SendToClients(2729, reinterpret_cast<WPARAM>(hNew));
    return hNew;
}

const std::string& SlotText(int iSlot) {
    return ValidSlot(iSlot) && !Slots.empty() ? Slots[iSlot] : sNone;
}

void PresetSlot(int iSlot, const char* pszText) {
    if (ValidSlot(iSlot) && !Slots.empty())
        Slots[iSlot].assign(pszText, strnlen(pszText, 512));
}

void SetSlot(int iSlot, const char* pszText) {
    if (!ValidSlot(iSlot) || Slots.empty())
        return;
    PresetSlot(iSlot, pszText);
    PruneClients();
    for (int i = 0; i < iClients; ++i)
        SendChange(Clients[i], iSlot, Slots[iSlot]);
}

void DeferSlot(int iSlot, const char* pszText) {
    if (!ValidSlot(iSlot))
        return;
    bDeferred = true;
    iDeferredSlot = iSlot;
    sDeferredText.assign(pszText, strnlen(pszText, 512));
}

void SetRedundancyState(int iState) {
    iRedundancy = iState;
}
void SetExchangeDelayUs(unsigned uMicroseconds) {
    uDelayUs = uMicroseconds;
}
void StallNextAnswer(unsigned uMilliseconds) {
    ResetEvent(hStallRelease);
    uStallMs = uMilliseconds;
}

void ReleaseStall() {
    SetEvent(hStallRelease);
}

void SetQuiet(bool bOn) {
    bQuiet = bOn;
}

LRESULT SendToClients(UINT iMessage, WPARAM wParam) {
    PruneClients();
    LRESULT iResult = 0;
    for (int i = 0; i < iClients; ++i) {
        iResult = SendMessageA(Clients[i], iMessage, wParam, 0);
        Emit("sent %u %s %d", iMessage, HandleText(Clients[i]).c_str(), static_cast<int>(iResult));
    }
    return iResult;
}

void SendTextToClients(const char* pszText) {
    PruneClients();
    for (int i = 0; i < iClients; ++i) {
        LRESULT iResult = SendTextRecord(hStandin, Clients[i], 2730, 0, pszText);
        Emit("sent 2730 %s %d", HandleText(Clients[i]).c_str(), static_cast<int>(iResult));
    }
}

int ClientCount() {
    return iClients;
}
HWND ClientAt(int i) {
    return i >= 0 && i < iClients ? Clients[i] : nullptr;
}
long ReadCount() {
    return lReads;
}
long WriteCount() {
    return lWrites;
}
const std::vector<int>& DriverStates() {
    return States;
}
int DetachCount() {
    return iDetaches;
}
const std::vector<RawRecord>& Records() {
    return RecordLog;
}
void ClearRecords() {
    RecordLog.clear();
}

} // namespace standin
