#include "app/foreign_timer.h"

#include "app/mainwnd.h"
#include "infodriver/client.h"

namespace {

bool ClassOfLibrary(HMODULE hClassModule, const char* pszLibrary) {
    const HMODULE hLibrary = GetModuleHandleA(pszLibrary);
    return hLibrary != nullptr && hClassModule == hLibrary;
}

// The windows whose code is the driver's: the main window with what it holds and owns (the panel,
// the list, the About box), the client's hidden window, and the thread itself, which a thread
// timer names. The control libraries' indicator, and whatever else runs on this thread (the input
// method's windows), may set timer procedures of their own.
bool IsDriverWindow(HWND hWnd) {
    if (hWnd == nullptr || hWnd == Infodriver.hWnd)
        return true;
    if (hMainWnd == nullptr || GetAncestor(hWnd, GA_ROOTOWNER) != hMainWnd)
        return false;
    const auto hClassModule = reinterpret_cast<HMODULE>(GetClassLongPtrA(hWnd, GCLP_HMODULE));
    return !ClassOfLibrary(hClassModule, "vorn_cc.dll") && !ClassOfLibrary(hClassModule, "vorn_cc09.dll");
}

bool InProgramRange(LPARAM lAddress) {
    static UINT_PTR uHighest = 0;
    if (uHighest == 0) {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        uHighest = reinterpret_cast<UINT_PTR>(info.lpMaximumApplicationAddress);
    }
    return static_cast<UINT_PTR>(lAddress) <= uHighest;
}

// A modal loop asks the filter about every message before it handles it; TRUE tells it the message
// has been dealt with.
LRESULT CALLBACK FilterModalMessage(int iCode, WPARAM wParam, LPARAM lParam) {
    if (iCode >= 0 && lParam != 0 && IsForeignTimer(*reinterpret_cast<const MSG*>(lParam)))
        return TRUE;
    return CallNextHookEx(nullptr, iCode, wParam, lParam);
}

} // namespace

bool IsForeignTimer(const MSG& msg) {
    if (msg.lParam == 0)
        return false;
    const bool bNamesProcedure =
        msg.message == WM_TIMER || (msg.message == WM_SYSTIMER && InProgramRange(msg.lParam));
    return bNamesProcedure && IsDriverWindow(msg.hwnd);
}

bool GuardModalLoops() {
    // Kept for the life of the thread: the system removes it when the thread ends.
    return SetWindowsHookExA(WH_MSGFILTER, FilterModalMessage, nullptr, GetCurrentThreadId()) != nullptr;
}
