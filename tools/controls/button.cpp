// The indicator's window procedure.
#include "tools/controls/button.h"
#include "tools/controls/caption.h"
#include "tools/controls/vorn_cc.h"

namespace {

constexpr int EXTRA_LOOK = 0;
constexpr int EXTRA_OWN_FONT = sizeof(LONG_PTR);       // made from the text; the control deletes it
constexpr int EXTRA_GIVEN_FONT = 2 * sizeof(LONG_PTR); // WM_SETFONT's; owned by the giver
static_assert(CC_BUTTON_EXTRA_BYTES == 3 * sizeof(LONG_PTR), "one slot per extra item");

void SetLook(HWND hWnd, int iLook) {
    SetWindowLongPtrA(hWnd, EXTRA_LOOK, iLook);
}

void SetOwnFont(HWND hWnd, HFONT hFont) {
    HFONT hOld =
        reinterpret_cast<HFONT>(SetWindowLongPtrA(hWnd, EXTRA_OWN_FONT, reinterpret_cast<LONG_PTR>(hFont)));
    if (hOld != nullptr)
        DeleteObject(hOld);
}

HFONT MakeFont(const CaptionText& text) {
    HDC hScreen = GetDC(nullptr);
    int iPixelsPerInch = GetDeviceCaps(hScreen, LOGPIXELSY);
    ReleaseDC(nullptr, hScreen);
    return CreateFontA(-MulDiv(text.iPoints, iPixelsPerInch, 72), 0, 0, 0, text.bBold ? FW_BOLD : FW_NORMAL,
                       (text.iFlags & CCF_ITALIC) != 0, (text.iFlags & CCF_UNDERLINE) != 0, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, text.szFace);
}

// A command sets the look and keeps the caption; a caption sets the text, the font when the text
// names one, and the neutral look.
LRESULT ApplyText(HWND hWnd, const char* pszText) {
    if (pszText == nullptr)
        pszText = "";
    if (IsDisplayCommand(pszText)) {
        int iLook = CommandLook(pszText);
        if (iLook >= 0) {
            SetLook(hWnd, iLook);
            InvalidateRect(hWnd, nullptr, TRUE);
        }
        return TRUE;
    }
    CaptionText text;
    ParseCaptionText(pszText, &text);
    if (text.szFace[0] != 0) {
        HFONT hFont = MakeFont(text);
        if (hFont != nullptr)
            SetOwnFont(hWnd, hFont);
    }
    SetLook(hWnd, CC_LOOK_NEUTRAL);
    LRESULT iResult = DefWindowProcA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.szCaption));
    InvalidateRect(hWnd, nullptr, TRUE);
    return iResult;
}

LRESULT OnCreate(HWND hWnd, const CREATESTRUCTA* pCreate) {
    // The default handling of WM_NCCREATE has stored the whole text; keep only the caption.
    const char* pszText = pCreate->lpszName;
    if (pszText != nullptr && IS_INTRESOURCE(pszText))
        pszText = nullptr;
    if (pszText != nullptr && IsDisplayCommand(pszText)) {
        DefWindowProcA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    }
    ApplyText(hWnd, pszText);
    return 0;
}

} // namespace

int ButtonLook(HWND hWnd) {
    return static_cast<int>(GetWindowLongPtrA(hWnd, EXTRA_LOOK));
}

HFONT ButtonFont(HWND hWnd) {
    HFONT hOwn = reinterpret_cast<HFONT>(GetWindowLongPtrA(hWnd, EXTRA_OWN_FONT));
    return hOwn != nullptr ? hOwn : reinterpret_cast<HFONT>(GetWindowLongPtrA(hWnd, EXTRA_GIVEN_FONT));
}

extern "C" LRESULT CALLBACK CcButtonProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
    switch (iMessage) {
        case WM_CREATE:
            return OnCreate(hWnd, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        case WM_SETTEXT:
            return ApplyText(hWnd, reinterpret_cast<const char*>(lParam));
        case WM_SETFONT:
            SetWindowLongPtrA(hWnd, EXTRA_GIVEN_FONT, static_cast<LONG_PTR>(wParam));
            if (LOWORD(lParam))
                InvalidateRect(hWnd, nullptr, TRUE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(ButtonFont(hWnd));
        case CCM_GETLOOK:
            return ButtonLook(hWnd);
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC hDC = BeginPaint(hWnd, &paint);
            PaintButton(hWnd, hDC);
            EndPaint(hWnd, &paint);
            return 0;
        }
        case WM_PRINTCLIENT:
            PaintButton(hWnd, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1; // the paint fills every pixel
        case WM_ENABLE:
        case WM_STYLECHANGED:
            InvalidateRect(hWnd, nullptr, TRUE);
            return 0;
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        case WM_NCHITTEST:
            return HTTRANSPARENT; // an indicator: clicks belong to the dialog
        case WM_NCDESTROY:
            SetOwnFont(hWnd, nullptr);
            break;
    }
    return DefWindowProcA(hWnd, iMessage, wParam, lParam);
}
