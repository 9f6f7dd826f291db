#include "app/panel.h"

#include "resources/resource.h"

int iInfodriverTx = 0;
int iInfodriverRx = 0;
HWND hStatusPanel = nullptr;

namespace {

// A lit tally in the broadcast convention: white bold number on red.
constexpr COLORREF LIT_FACE = RGB(204, 0, 0);
constexpr COLORREF LIT_TEXT = RGB(255, 255, 255);
constexpr int TALLY_BOXES = IDC_TALLY_LAST - IDC_TALLY_FIRST + 1;

// User-interface thread only. A box is lit once its number has been written into it; the number
// it starts with is not a tally's.
bool bTallyLit[TALLY_BOXES] = {};
HBRUSH hLitBrush = nullptr;
HFONT hBoldFont = nullptr; // the panel's font in bold; freed with the panel

bool IsTallyBox(int iControl) {
    return iControl >= IDC_TALLY_FIRST && iControl <= IDC_TALLY_LAST;
}

void MakeLitLook(HWND hPanel) {
    if (hLitBrush == nullptr)
        hLitBrush = CreateSolidBrush(LIT_FACE);
    LOGFONTA Font{};
    HFONT hFont = reinterpret_cast<HFONT>(SendMessageA(hPanel, WM_GETFONT, 0, 0));
    if (hFont != nullptr && GetObjectA(hFont, sizeof Font, &Font) == sizeof Font) {
        Font.lfWeight = FW_BOLD;
        hBoldFont = CreateFontIndirectA(&Font);
    }
    for (bool& bLit : bTallyLit)
        bLit = false;
}

// The lit look goes with the lit text: bold and red, or the panel's own font and colours.
void SetTallyBox(int iControl, const char* pszText) {
    const bool bLit = pszText != nullptr && pszText[0] != '\0' && pszText[0] != ' ';
    bool& bWasLit = bTallyLit[iControl - IDC_TALLY_FIRST];
    HWND hBox = GetDlgItem(hStatusPanel, iControl);
    if (bLit != bWasLit && hBox != nullptr) {
        HFONT hFont = bLit ? hBoldFont : reinterpret_cast<HFONT>(SendMessageA(hStatusPanel, WM_GETFONT, 0, 0));
        if (hFont != nullptr)
            SendMessageA(hBox, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);
        bWasLit = bLit;
    }
    SetDlgItemTextA(hStatusPanel, iControl, pszText);
}

// The panel has no commands of its own; it only colours the lit tally boxes.
INT_PTR CALLBACK PanelDialogProc(HWND hPanel, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    switch (iMessage) {
        case WM_INITDIALOG:
            MakeLitLook(hPanel);
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int iControl = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (!IsTallyBox(iControl) || !bTallyLit[iControl - IDC_TALLY_FIRST] || hLitBrush == nullptr)
                return FALSE;
            HDC hDC = reinterpret_cast<HDC>(wParam);
            SetTextColor(hDC, LIT_TEXT);
            SetBkColor(hDC, LIT_FACE);
            return reinterpret_cast<INT_PTR>(hLitBrush);
        }
        case WM_NCDESTROY:
            // The boxes have gone with their font.
            if (hBoldFont != nullptr)
                DeleteObject(hBoldFont);
            hBoldFont = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
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
    if (hStatusPanel == nullptr)
        return;
    if (IsTallyBox(iControl))
        SetTallyBox(iControl, pszText);
    else
        SetDlgItemTextA(hStatusPanel, iControl, pszText);
}

void GetPanelText(int iControl, char* pszText, int iSize) {
    if (iSize <= 0)
        return;
    pszText[0] = '\0';
    if (hStatusPanel != nullptr)
        GetDlgItemTextA(hStatusPanel, iControl, pszText, iSize);
}
