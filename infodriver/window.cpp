// The client's hidden window: the search at creation, the detach at destruction, and the
// handling of the infodriver's messages.
#include "infodriver/client.h"

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
};

// Every top-level window gets the message in turn; a hung one is skipped and a slow one costs at
// most SEARCH_TIMEOUT_MS, where a broadcast SendMessage would wait for ever (and under Wine would
// not deliver user messages at all).
BOOL CALLBACK SendToTopLevel(HWND hWnd, LPARAM lParam) {
    const Broadcast& cast = *reinterpret_cast<const Broadcast*>(lParam);
    if (hWnd != cast.hOwn) {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(hWnd, cast.iMessage, cast.wParam, cast.lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            SEARCH_TIMEOUT_MS, &dwResult);
    }
    return TRUE;
}

void BroadcastMessage(HWND hOwn, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    Broadcast cast{hOwn, iMessage, wParam, lParam};
    EnumWindows(SendToTopLevel, reinterpret_cast<LPARAM>(&cast));
}

// A plain message's text pointer means something only when this thread sent it; one sent from
// elsewhere points into another address space. Even then, read only committed, readable memory.
void CopyPlainText(LPARAM lParam, char* pszCopy, std::size_t nSize) {
    pszCopy[0] = 0;
    if (lParam == 0 || InSendMessage())
        return;
    const char* pSource = reinterpret_cast<const char*>(lParam);
    std::size_t n = 0;
    while (n + 1 < nSize) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(pSource + n, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0)
            break;
        const char* pRegionEnd = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        while (n + 1 < nSize && pSource + n < pRegionEnd && pSource[n] != 0) {
            pszCopy[n] = pSource[n];
            ++n;
        }
        if (pSource + n < pRegionEnd)
            break; // terminator or room exhausted
    }
    pszCopy[n] = 0;
}

InfodriverClient* ClientOf(HWND hWnd) {
    return reinterpret_cast<InfodriverClient*>(GetWindowLongPtrA(hWnd, 0));
}

} // namespace

bool IsClientMessage(UINT iMessage) {
    for (UINT iHandled : ClientMessages)
        if (iHandled == iMessage)
            return true;
    return false;
}

LRESULT InfodriverClient::OnCreate(HWND hOwn) {
    hInfodriver = nullptr;
    WPARAM wOwn = WordFromHandle(hOwn);
    BroadcastMessage(hOwn, INFO_SEARCH, wOwn, static_cast<LPARAM>((iDevice & 0xFFFF) | 0x8000));
    if (hInfodriver == nullptr)
        return -1;
    if (iExtFlag != 0) {
        LPARAM lExt = static_cast<LPARAM>((static_cast<unsigned>(iExtHigh) & 0xFFFFu) << 16 |
                                          (static_cast<unsigned>(iExtLow) & 0xFFFFu));
        if (static_cast<int>(SendMessageA(hInfodriver, INFO_EXTENDED, wOwn, lExt)) < 0)
            return -1;
    }
    BroadcastMessage(hOwn, INFO_ATTACHED, wOwn, 0);
    return 0;
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
            ++*piChangeCount;
            iStatus = IDSTAT_CONNECTED;
            pfnCallback(this, static_cast<int>(wParam), pszIn);
            return 0;
        case INFO_HANDLE:
            hInfodriver = reinterpret_cast<HWND>(wParam);
            return 0;
        case INFO_TEXT:
            std::snprintf(pszText, CLIENT_TEXT_BYTES, "%s", pszIn);
            return 0;
        default:
            return 0;
    }
}

LRESULT CALLBACK ClientWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    // Creation and destruction arrive from this thread only; another process sending them (or a
    // second WM_CREATE) must not replace the client pointer or fake a detach.
    bool bOwnThread = !InSendMessage();
    if (iMessage == WM_CREATE && bOwnThread && ClientOf(hWnd) == nullptr) {
        auto* pCreate = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* pClient = static_cast<InfodriverClient*>(pCreate->lpCreateParams);
        SetWindowLongPtrA(hWnd, 0, reinterpret_cast<LONG_PTR>(pClient));
        return pClient != nullptr ? pClient->OnCreate(hWnd) : -1;
    }
    InfodriverClient* pClient = ClientOf(hWnd);
    if (pClient == nullptr)
        return DefWindowProcA(hWnd, iMessage, wParam, lParam);

    switch (iMessage) {
        case WM_DESTROY:
            if (bOwnThread && pClient->hInfodriver != nullptr)
                SendMessageA(pClient->hInfodriver, INFO_DETACH, 0, static_cast<LPARAM>(pClient->iDevice));
            return 0;
        case WM_NCDESTROY:
            if (!bOwnThread)
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
    // A plain 2984 carries no payload: replies come only as records.
    if (IsClientMessage(iMessage) && iMessage != INFO_REPLY) {
        char szText[TEXT_PAYLOAD + 1];
        if (iMessage == INFO_SLOT_CHANGED || iMessage == INFO_TEXT)
            CopyPlainText(lParam, szText, sizeof szText);
        else
            szText[0] = 0;
        return pClient->HandleMessage(iMessage, wParam, szText);
    }
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}
