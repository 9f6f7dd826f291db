#include "app/diagnostics.h"

#include "protocol/assembly.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

int iDebugMode = 1;
int iLogMode = 0;
char szLogPath[LOG_PATH_CHARS] = "";
HWND hDebugList = nullptr;

namespace {

LogClock pfnLogClock = GetLocalTime;

void AddListLine(const char* pszText) {
    if (hDebugList == nullptr)
        return;
    SendMessageA(hDebugList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pszText));
    if (SendMessageA(hDebugList, LB_GETCOUNT, 0, 0) > DEBUG_LIST_LINES)
        SendMessageA(hDebugList, LB_DELETESTRING, 0, 0);
}

void ScrollToNewest() {
    if (hDebugList == nullptr)
        return;
    LRESULT iCount = SendMessageA(hDebugList, LB_GETCOUNT, 0, 0);
    if (iCount > 0)
        SendMessageA(hDebugList, LB_SETTOPINDEX, static_cast<WPARAM>(iCount - 1), 0);
}

} // namespace

HWND CreateDebugList(HWND hParent, int y) {
    RECT rcClient{};
    GetClientRect(hParent, &rcClient);
    // No sorting and no notifications: lines stay in the order added, and nothing answers a click.
    const DWORD dwStyle = WS_CHILD | WS_VSCROLL | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT;
    hDebugList =
        CreateWindowExA(0, "LISTBOX", "", dwStyle, 0, y, rcClient.right, rcClient.bottom - y, hParent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(DEBUG_LIST_ID)),
                        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hParent, GWLP_HINSTANCE)), nullptr);
    if (hDebugList != nullptr)
        ShowWindow(hDebugList, SW_SHOW);
    return hDebugList;
}

void SetLogClock(LogClock pfnClock) {
    pfnLogClock = pfnClock != nullptr ? pfnClock : GetLocalTime;
}

void ReadLogClock(SYSTEMTIME* pTime) {
    pfnLogClock(pTime);
}

void DebugLine(const char* pszFormat, ...) {
    if (iDebugMode == 0)
        return;
    char szLine[DEBUG_LINE_CHARS + 1];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    AddListLine(szLine);
    ScrollToNewest();
}

void LogLine(const char* pszFormat, ...) {
    if (iLogMode == 0)
        return;
    va_list args;
    va_start(args, pszFormat);
    va_list measure;
    va_copy(measure, args);
    const int iLength = std::vsnprintf(nullptr, 0, pszFormat, measure);
    va_end(measure);
    char* pszText =
        iLength >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(iLength) + 1)) : nullptr;
    if (pszText == nullptr) {
        va_end(args);
        DebugLine("*** Insufficient memory for Log");
        return;
    }
    std::vsnprintf(pszText, static_cast<std::size_t>(iLength) + 1, pszFormat, args);
    va_end(args);

    SYSTEMTIME Now{};
    ReadLogClock(&Now);
    // Text mode: the "\r\n" below reaches the file as 0D 0D 0A, the line end log readers know.
    if (std::FILE* pFile = std::fopen(szLogPath, "at")) {
        std::fprintf(pFile, "%02u/%02u/%02u  %02u:%02u:%02u - ", Now.wMonth, Now.wDay, Now.wYear % 100u,
                     Now.wHour, Now.wMinute, Now.wSecond);
        std::fputs(pszText, pFile);
        std::fputs("\r\n", pFile);
        std::fclose(pFile);
    }
    std::free(pszText);
}

void HexDump() {
    if (iDebugMode == 0)
        return;
    // 16 bytes make 48 characters: the dump's lines are never cut.
    char szLine[64];
    int iUsed = std::snprintf(szLine, sizeof szLine, "Hexdump - iWrtPtr = %d", iWrtPtr);
    const int iBytes = iWrtPtr < 0 ? 0 : (iWrtPtr > ASSEMBLY_BUFFER_SIZE ? ASSEMBLY_BUFFER_SIZE : iWrtPtr);
    for (int i = 0; i < iBytes; ++i) {
        if (i % 16 == 0) {
            AddListLine(szLine);
            iUsed = 0;
            szLine[0] = '\0';
        }
        iUsed += std::snprintf(szLine + iUsed, sizeof szLine - static_cast<std::size_t>(iUsed), " %02X",
                               AssemblyBuffer[i]);
    }
    AddListLine(szLine);
    ScrollToNewest();
}
