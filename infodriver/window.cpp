// The client's hidden window: the search at creation, the detach at destruction, and the
// handling of the infodriver's messages.
#include "infodriver/client.h"

#include "protocol/counter.h"
#include "protocol/external.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::array<UINT, 9> ClientMessages = {
    INFO_NOTIFY,       INFO_DISCONNECTED, INFO_GO_RX_ONLY, INFO_GO_TXRX, INFO_ID_IN_USE,
    INFO_SLOT_CHANGED, INFO_HANDLE,       INFO_TEXT,       INFO_REPLY,
};

struct Broadcast {
    HWND hOwn;
    UINT iMessage;
    WPARAM wParam;
    LPARAM lParam;
    int iRefused; // windows whose process is at a higher privilege level than the driver's
};

// Every top-level window gets the message in turn; a hung one is skipped and a slow one costs at
// most SEARCH_TIMEOUT_MS, where a broadcast SendMessage would wait for ever (and under Wine would
// not deliver user messages at all).
BOOL CALLBACK SendToTopLevel(HWND hWnd, LPARAM lParam) {
    Broadcast& cast = *reinterpret_cast<Broadcast*>(lParam);
    if (hWnd != cast.hOwn) {
        DWORD_PTR dwResult = 0;
        SetLastError(ERROR_SUCCESS);
        if (pfnSearchSend(hWnd, cast.iMessage, cast.wParam, cast.lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                          SEARCH_TIMEOUT_MS, &dwResult) == 0 &&
            GetLastError() == ERROR_ACCESS_DENIED)
            ++cast.iRefused;
    }
    return TRUE;
}

// How many windows refused the message.
int BroadcastMessage(HWND hOwn, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    Broadcast cast{hOwn, iMessage, wParam, lParam, 0};
    EnumWindows(SendToTopLevel, reinterpret_cast<LPARAM>(&cast));
    return cast.iRefused;
}

// Windows drops the messages of a process at a lower privilege level than the receiver's
// (WM_COPYDATA and everything above WM_USER): an infodriver started without elevation could not
// answer an elevated driver. Its records are checked as untrusted anyway.
void LetInfodriverMessagesIn(HWND hOwn) {
    bool bAllowed = ChangeWindowMessageFilterEx(hOwn, WM_COPYDATA, MSGFLT_ALLOW, nullptr) != FALSE;
    for (UINT iMessage : ClientMessages)
        bAllowed = ChangeWindowMessageFilterEx(hOwn, iMessage, MSGFLT_ALLOW, nullptr) != FALSE && bAllowed;
    if (!bAllowed)
        DebugLine("Infodriver messages from another privilege level stay blocked (error %lu)",
                  GetLastError());
}

InfodriverClient* ClientOf(HWND hWnd) {
    return reinterpret_cast<InfodriverClient*>(GetWindowLongPtrA(hWnd, 0));
}

} // namespace

SearchSendFunction pfnSearchSend = SendMessageTimeoutA;

bool IsClientMessage(UINT iMessage) {
    for (UINT iHandled : ClientMessages)
        if (iHandled == iMessage)
            return true;
    return false;
}

LRESULT InfodriverClient::OnCreate(HWND hOwn) {
    hWnd = hOwn;
    hInfodriver = nullptr;
    LetInfodriverMessagesIn(hOwn);
    WPARAM wOwn = WordFromHandle(hOwn);
    bSearching = true;
    const int iRefused =
        BroadcastMessage(hOwn, INFO_SEARCH, wOwn, static_cast<LPARAM>((iDevice & 0xFFFF) | 0x8000));
    bSearching = false;
    if (hInfodriver == nullptr) {
        // Only a process at a higher privilege level refuses: the infodriver may be one of them
        // (an elevated Task Manager is another).
        if (iRefused > 0) {
            DebugLine("Infodriver %d may run at another privilege level: %d windows refused the search",
                      iDevice, iRefused);
            LogLine("Infodriver %d may run at another privilege level: %d windows refused the search",
                    iDevice, iRefused);
            DebugLine("Start the driver and the infodriver the same way: both as administrator, or neither");
            LogLine("Start the driver and the infodriver the same way: both as administrator, or neither");
        }
        return -1;
    }
    GetClassNameA(hInfodriver, szInfodriverClass, sizeof szInfodriverClass);
    if (iExtFlag != 0) {
        LPARAM lExt = static_cast<LPARAM>((static_cast<unsigned>(iExtHigh) & 0xFFFFu) << 16 |
                                          (static_cast<unsigned>(iExtLow) & 0xFFFFu));
        if (static_cast<int>(SendToInfodriver(hInfodriver, INFO_EXTENDED, wOwn, lExt)) < 0)
            return -1;
    }
    BroadcastMessage(hOwn, INFO_ATTACHED, wOwn, 0);
    return 0;
}

bool InfodriverClient::AcceptsInfodriverWindow(HWND hNew) const {
    // Any process can send 2729. It never names a broadcast, the client itself or no window at all:
    // every exchange would then go nowhere, or to every window on the desktop.
    if (hNew == nullptr || hNew == HWND_BROADCAST || hNew == hWnd || !IsWindow(hNew))
        return false;
    // During the search the last answer wins.
    if (bSearching)
        return true;
    // Afterwards only a window of the infodriver's class: its process has others (an IME window
    // for each thread), and so has every other process.
    char szClass[CLASS_NAME_CHARS] = "";
    if (szInfodriverClass[0] != '\0' &&
        (GetClassNameA(hNew, szClass, sizeof szClass) == 0 || std::strcmp(szClass, szInfodriverClass) != 0))
        return false;
    // And from the infodriver's own process, unless its window has gone (a restarted infodriver).
    if (hInfodriver == nullptr || !IsWindow(hInfodriver))
        return true;
    DWORD dwHeld = 0, dwNamed = 0;
    GetWindowThreadProcessId(hInfodriver, &dwHeld);
    GetWindowThreadProcessId(hNew, &dwNamed);
    return dwHeld != 0 && dwHeld == dwNamed;
}

LRESULT InfodriverClient::HandleMessage(UINT iMessage, WPARAM wParam, const char* pszMessageText) {
    const char* pszIn = pszMessageText != nullptr ? pszMessageText : "";
    switch (iMessage) {
        case INFO_NOTIFY:
            iNotifyValue = static_cast<int>(wParam);
            return 0;
        case INFO_DISCONNECTED:
            iStatus = IDSTAT_NOT_CONNECTED;
            pfnCallback(this, 0, "Infodriver has disconnected");
            return 0;
        case INFO_GO_RX_ONLY:
            iStatus = IDSTAT_GO_RX_ONLY;
            if (iPermittedMode == IDSTAT_GO_RX_ONLY) {
                pfnCallback(this, 0, "Accepting request to go RX Only");
                return 1;
            }
            pfnCallback(this, 0, "Denying request to go RX Only");
            return 0;
        case INFO_GO_TXRX:
            iStatus = IDSTAT_GO_TXRX;
            if (iPermittedMode == IDSTAT_GO_TXRX) {
                pfnCallback(this, 0, "Accepting request to go TXRX");
                return 1;
            }
            pfnCallback(this, 0, "Denying request to go TXRX");
            return 0;
        case INFO_ID_IN_USE:
            iStatus = IDSTAT_ID_IN_USE;
            pfnCallback(this, static_cast<int>(wParam & 0xFFFF), "Device ID in use");
            return 0;
        case INFO_SLOT_CHANGED:
            // A slot index travels in 16 bits. A plain message's wParam beyond that names no slot:
            // cut down to an int it would make the write-back go to some other slot.
            if (wParam > 0xFFFF) {
                DebugLine("Change of slot %llu refused", static_cast<unsigned long long>(wParam));
                return 0;
            }
            *piChangeCount = NextCount(*piChangeCount);
            iStatus = IDSTAT_CONNECTED;
            pfnCallback(this, static_cast<int>(wParam), pszIn);
            return 0;
        case INFO_HANDLE:
            if (AcceptsInfodriverWindow(reinterpret_cast<HWND>(wParam)))
                hInfodriver = reinterpret_cast<HWND>(wParam);
            else
                DebugLine("Infodriver window 0x%X refused", static_cast<unsigned>(wParam));
            return 0;
        case INFO_TEXT:
            std::snprintf(pszText, CLIENT_TEXT_BYTES, "%s", pszIn);
            return 0;
        default:
            return 0;
    }
}

LRESULT CALLBACK ClientWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    const HandledInsideExchange Handling;
    // Creation and destruction are taken only when this client began them; another process sending
    // or posting them (or a second WM_CREATE) must not replace the client pointer or fake a detach.
    if (iMessage == WM_CREATE && !InSendMessage() && ClientOf(hWnd) == nullptr) {
        auto* pCreate = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* pClient = static_cast<InfodriverClient*>(pCreate->lpCreateParams);
        SetWindowLongPtrA(hWnd, 0, reinterpret_cast<LONG_PTR>(pClient));
        if (pClient == nullptr)
            return -1;
        const LRESULT iResult = pClient->OnCreate(hWnd);
        // A refused window is destroyed by the system, and that destruction is genuine.
        pClient->bDestroying = iResult < 0;
        return iResult;
    }
    InfodriverClient* pClient = ClientOf(hWnd);
    if (pClient == nullptr)
        return DefWindowProcA(hWnd, iMessage, wParam, lParam);

    switch (iMessage) {
        case WM_NCCREATE:
            // Only the window's own creation, which is over by now: the default handling of one sent
            // from outside would retitle the window from a foreign CREATESTRUCT.
            return TRUE;
        // Not InSendMessage(): the client may be destroyed inside a message another process sent
        // (the session's end).
        case WM_DESTROY:
            if (pClient->bDestroying && pClient->hInfodriver != nullptr)
                SendToInfodriver(pClient->hInfodriver, INFO_DETACH, 0, static_cast<LPARAM>(pClient->iDevice),
                                 pClient->dwDetachWaitMs);
            return 0;
        case WM_NCDESTROY:
            if (!pClient->bDestroying)
                return 0;
            SetWindowLongPtrA(hWnd, 0, 0);
            if (pClient->hWnd == hWnd)
                pClient->hWnd = nullptr;
            return DefWindowProcA(hWnd, iMessage, wParam, lParam);
        case WM_COPYDATA:
            return pClient->ReceiveRecord(hWnd, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_CLOSE:
            // The window goes only with its client: closed from outside it would vanish without
            // telling the infodriver, and the link would stop without a word.
            return 0;
        default:
            break;
    }
    // A plain 2984 carries no payload: replies come only as records. A plain message's lParam is
    // never read as a text, sent or posted: it may be any address another process chose. Texts
    // from the infodriver travel in records; a plain 2728 or 2730 brings the empty text.
    if (IsClientMessage(iMessage) && iMessage != INFO_REPLY)
        return pClient->HandleMessage(iMessage, wParam, "");
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}
