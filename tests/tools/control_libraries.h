#pragma once
// The two control libraries from the package folder, loaded as the driver loads them (vorn_cc.dll
// first) and freed again at the end of a test.
#include <windows.h>

#include <string>

#include "tools/controls/vorn_cc.h"

inline std::string PackageFile(const char* pszName) {
    std::string sPath = std::string(DRAVIK_PACKAGE_DIR) + "/" + pszName;
    for (char& c : sPath) {
        if (c == '/')
            c = '\\';
    }
    return sPath;
}

struct ControlLibraries {
    HMODULE hBase = LoadLibraryA(PackageFile("vorn_cc.dll").c_str());
    HMODULE hClass = LoadLibraryA(PackageFile("vorn_cc09.dll").c_str());

    ControlLibraries() = default;
    ControlLibraries(const ControlLibraries&) = delete;
    ControlLibraries& operator=(const ControlLibraries&) = delete;
    ~ControlLibraries() {
        if (hClass != nullptr)
            FreeLibrary(hClass);
        if (hBase != nullptr)
            FreeLibrary(hBase);
    }
    bool Loaded() const { return hBase != nullptr && hClass != nullptr; }
};

// A top-level window that is never shown, to parent controls and dialogs.
struct HiddenParent {
    HWND hWnd = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);

    HiddenParent() = default;
    HiddenParent(const HiddenParent&) = delete;
    HiddenParent& operator=(const HiddenParent&) = delete;
    ~HiddenParent() {
        if (hWnd != nullptr)
            DestroyWindow(hWnd);
    }
};

inline std::string WindowText(HWND hWnd) {
    char szText[512] = "";
    GetWindowTextA(hWnd, szText, sizeof szText);
    return szText;
}

inline LOGFONTA FontOf(HWND hWnd) {
    LOGFONTA font{};
    HFONT hFont = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0));
    if (hFont != nullptr)
        GetObjectA(hFont, sizeof font, &font);
    return font;
}

inline bool SameFace(const char* pszA, const char* pszB) {
    return lstrcmpiA(pszA, pszB) == 0;
}
