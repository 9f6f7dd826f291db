#include "app/panel.h"

#include "resources/resource.h"

int iInfodriverTx = 0;
int iInfodriverRx = 0;
HWND hStatusPanel = nullptr;

namespace {

// The panel has no commands of its own.
INT_PTR CALLBACK PanelDialogProc(HWND, UINT iMessage, WPARAM, LPARAM) {
    return iMessage == WM_INITDIALOG ? TRUE : FALSE;
}

} // namespace

HWND CreateStatusPanel(HWND hParent) {
    HINSTANCE hInst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hParent, GWLP_HINSTANCE));
    hStatusPanel = CreateDialogParamA(hInst, MAKEINTRESOURCEA(IDD_STATUS), hParent, PanelDialogProc, 0);
    return hStatusPanel;
}

int PanelHeight() {
    RECT rc{};
    if (hStatusPanel != nullptr)
        GetClientRect(hStatusPanel, &rc);
    return rc.bottom + 2;
}

void SetPanelText(int iControl, const char* pszText) {
    if (hStatusPanel != nullptr)
        SetDlgItemTextA(hStatusPanel, iControl, pszText);
}

void GetPanelText(int iControl, char* pszText, int iSize) {
    if (iSize <= 0)
        return;
    pszText[0] = '\0';
    if (hStatusPanel != nullptr)
        GetDlgItemTextA(hStatusPanel, iControl, pszText, iSize);
}
