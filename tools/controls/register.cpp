// vorn_cc09.dll: makes the indicator of vorn_cc.dll a global window class for as long as it is
// loaded.
#include "tools/controls/vorn_cc.h"

namespace {

BOOL RegisterButtonClass(HINSTANCE hModule) {
    WNDCLASSA wc{};
    wc.style = CS_GLOBALCLASS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CcButtonProc;
    wc.cbWndExtra = CC_BUTTON_EXTRA_BYTES;
    wc.hInstance = hModule;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = CC_BUTTON_CLASS;
    if (RegisterClassA(&wc) != 0)
        return TRUE;
    // Registered already by another copy: the class is there, which is all a dialog needs.
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD dwReason, LPVOID pReserved) {
    switch (dwReason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(hModule);
            return RegisterButtonClass(hModule);
        case DLL_PROCESS_DETACH:
            // At process end the classes go with the process; an explicit unload must not leave
            // a class whose procedure is no longer mapped.
            if (pReserved == nullptr)
                UnregisterClassA(CC_BUTTON_CLASS, hModule);
            break;
    }
    return TRUE;
}
