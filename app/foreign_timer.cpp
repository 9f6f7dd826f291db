#include "app/foreign_timer.h"

namespace {

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
    return msg.message == WM_TIMER || (msg.message == WM_SYSTIMER && InProgramRange(msg.lParam));
}

bool GuardModalLoops() {
    // Kept for the life of the thread: the system removes it when the thread ends.
    return SetWindowsHookExA(WH_MSGFILTER, FilterModalMessage, nullptr, GetCurrentThreadId()) != nullptr;
}
