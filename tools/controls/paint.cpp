// Drawing of the indicator: a face in the colour of its look, an optional edge, the caption.
#include "tools/controls/button.h"
#include "tools/controls/caption.h"
#include "tools/controls/vorn_cc.h"

namespace {

constexpr COLORREF AMBER = RGB(255, 191, 0);
constexpr COLORREF GREEN = RGB(0, 200, 0);
constexpr COLORREF LAMP_TEXT = RGB(0, 0, 0);
constexpr int TEXT_MARGIN = 1;    // pixels between the edge and the caption
constexpr int MIN_FIT_HEIGHT = 8; // pixels: the smallest caption that still reads

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

int TextWidth(HDC hDC, const char* pszText, int iLength) {
    SIZE size{};
    GetTextExtentPoint32A(hDC, pszText, iLength, &size);
    return size.cx;
}

// A caption too wide for the control is tried in smaller sizes of its font, down to the smallest
// legible one, before it is cut. Returns the smaller font, selected, for the caller to delete
// once the DC no longer holds it; nullptr when the selected font serves.
HFONT SelectFittingFont(HDC hDC, const char* pszText, int iLength, int iWidth) {
    if (TextWidth(hDC, pszText, iLength) <= iWidth)
        return nullptr;
    HGDIOBJ hFont = GetCurrentObject(hDC, OBJ_FONT);
    LOGFONTA font{};
    if (GetObjectA(hFont, sizeof font, &font) == 0 || font.lfHeight == 0)
        return nullptr;
    int iSign = font.lfHeight < 0 ? -1 : 1;
    HFONT hSmaller = nullptr;
    for (int iHeight = iSign * font.lfHeight - 1; iHeight >= MIN_FIT_HEIGHT; --iHeight) {
        font.lfHeight = iSign * iHeight;
        font.lfWidth = 0;
        HFONT hTry = CreateFontIndirectA(&font);
        if (hTry == nullptr)
            break;
        SelectObject(hDC, hTry);
        if (hSmaller != nullptr)
            DeleteObject(hSmaller);
        hSmaller = hTry;
        if (TextWidth(hDC, pszText, iLength) <= iWidth)
            break;
    }
    return hSmaller;
}

// Returns a font made for the drawing, which the caller deletes after restoring the DC.
HFONT DrawCaption(HWND hWnd, HDC hDC, RECT rect) {
    char szCaption[CC_CAPTION_CHARS];
    int iLength = GetWindowTextA(hWnd, szCaption, sizeof szCaption);
    if (iLength <= 0)
        return nullptr;
    InflateRect(&rect, -TEXT_MARGIN, 0);
    const int iWidth = rect.right - rect.left;
    HFONT hFitted = SelectFittingFont(hDC, szCaption, iLength, iWidth);
    UINT iFormat = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    DWORD dwStyle = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    if (TextWidth(hDC, szCaption, iLength) > iWidth)
        iFormat |= DT_LEFT | DT_END_ELLIPSIS; // the start of a long caption says more than its middle
    else if (dwStyle & CCBS_CENTER)
        iFormat |= DT_CENTER;
    SetBkMode(hDC, TRANSPARENT);
    SetTextColor(hDC, TextColour(hWnd, ButtonLook(hWnd)));
    DrawTextA(hDC, szCaption, iLength, &rect, iFormat);
    return hFitted;
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
    HFONT hFitted = DrawCaption(hWnd, hDC, rect);
    RestoreDC(hDC, iSaved);
    if (hFitted != nullptr)
        DeleteObject(hFitted);
}
