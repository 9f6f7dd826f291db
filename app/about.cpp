#include "app/about.h"

#include "resources/resource.h"

#include <cstdio>
#include <vector>

namespace {

// "Version 1.3.00" from the module's version block, through its first language and code page.
void ShowVersion(HWND hDlg) {
    char szModule[MAX_PATH] = "";
    if (GetModuleFileNameA(nullptr, szModule, sizeof szModule) == 0)
        return;
    DWORD dwHandle = 0;
    const DWORD dwSize = GetFileVersionInfoSizeA(szModule, &dwHandle);
    if (dwSize == 0)
        return;
    std::vector<char> block(dwSize);
    if (!GetFileVersionInfoA(szModule, 0, dwSize, block.data()))
        return;
    WORD* pTranslation = nullptr;
    UINT uLength = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation),
                        &uLength) ||
        uLength < 2 * sizeof(WORD))
        return;
    char szQuery[64];
    std::snprintf(szQuery, sizeof szQuery, "\\StringFileInfo\\%04X%04X\\FileVersion", pTranslation[0],
                  pTranslation[1]);
    char* pszVersion = nullptr;
    if (!VerQueryValueA(block.data(), szQuery, reinterpret_cast<void**>(&pszVersion), &uLength) ||
        uLength == 0)
        return;
    char szLine[128];
    std::snprintf(szLine, sizeof szLine, "Version %.*s", static_cast<int>(uLength), pszVersion);
    SetDlgItemTextA(hDlg, IDC_ABOUT_VERSION, szLine);
}

} // namespace

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT iMessage, WPARAM wParam, LPARAM) {
    switch (iMessage) {
        case WM_INITDIALOG: {
            ShowVersion(hDlg);
            char szBuilt[64];
            std::snprintf(szBuilt, sizeof szBuilt, "%s - %s", __DATE__, __TIME__);
            SetDlgItemTextA(hDlg, IDC_ABOUT_BUILD, szBuilt);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(hDlg, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}
