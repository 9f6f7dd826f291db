// Drawing of the indicator: a face in the colour of its look, an optional edge, the caption.
#include "tools/controls/button.h"
#include "tools/controls/caption.h"
#include "tools/controls/vorn_cc.h"

namespace {

constexpr COLORREF AMBER = RGB(255, 191, 0);
constexpr COLORREF GREEN = RGB(0, 200, 0);
constexpr COLORREF LAMP_TEXT = RGB(0, 0, 0);
constexpr int TEXT_MARGIN = 1; // pixels between the edge and the caption

COLORREF FaceColour(int iLook) {
    switch (iLook) {
        case CC_LOOK_RX_ONLY:
            return AMBER;
        case CC_LOOK_TXRX:
            return GREEN;
        default:
            return GetSysColor(COLOR_BTNFACE);
    }
}

COLORREF TextColour(HWND hWnd, int iLook) {
    if (!IsWindowEnabled(hWnd))
        return GetSysColor(COLOR_GRAYTEXT);
    return iLook == CC_LOOK_NEUTRAL ? GetSysColor(COLOR_BTNTEXT) : LAMP_TEXT;
}

void DrawFaceAndEdge(HWND hWnd, HDC hDC, RECT* pRect) {
    HBRUSH hBrush = CreateSolidBrush(FaceColour(ButtonLook(hWnd)));
    FillRect(hDC, pRect, hBrush);
    DeleteObject(hBrush);
    DWORD dwStyle = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (dwStyle & CCBS_SUNKEN)
        DrawEdge(hDC, pRect, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    else if (dwStyle & CCBS_RAISED)
        DrawEdge(hDC, pRect, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
}

void DrawCaption(HWND hWnd, HDC hDC, RECT rect) {
    char szCaption[CC_CAPTION_CHARS];
    int iLength = GetWindowTextA(hWnd, szCaption, sizeof szCaption);
    if (iLength <= 0)
        return;
    InflateRect(&rect, -TEXT_MARGIN, 0);
    UINT iFormat = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    SIZE size{};
    GetTextExtentPoint32A(hDC, szCaption, iLength, &size);
    DWORD dwStyle = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (size.cx > rect.right - rect.left)
        iFormat |= DT_LEFT | DT_END_ELLIPSIS; // the start of a long caption says more than its middle
    else if (dwStyle & CCBS_CENTER)
        iFormat |= DT_CENTER;
    SetBkMode(hDC, TRANSPARENT);
    SetTextColor(hDC, TextColour(hWnd, ButtonLook(hWnd)));
    DrawTextA(hDC, szCaption, iLength, &rect, iFormat);
}

} // namespace

void PaintButton(HWND hWnd, HDC hDC) {
    RECT rect;
    GetClientRect(hWnd, &rect);
    int iSaved = SaveDC(hDC);
    IntersectClipRect(hDC, rect.left, rect.top, rect.right, rect.bottom);
    DrawFaceAndEdge(hWnd, hDC, &rect);
    HFONT hFont = ButtonFont(hWnd);
    if (hFont != nullptr)
        SelectObject(hDC, hFont);
    DrawCaption(hWnd, hDC, rect);
    RestoreDC(hDC, iSaved);
}
