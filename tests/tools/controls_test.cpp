// The indicator control of the two control libraries, loaded from the package folder.
#include "tests/tools/control_libraries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the control paints into a memory DC, as COLORREFs.
struct Picture {
    int iWidth = 0;
    int iHeight = 0;
    std::vector<COLORREF> pixels;

    COLORREF At(int x, int y) const {
        if (x < 0 || y < 0 || x >= iWidth || y >= iHeight || pixels.size() != std::size_t(iWidth) * iHeight)
            return CLR_INVALID;
        return pixels[y * iWidth + x];
    }
    // How many rows hold a pixel of text: the height of the caption as drawn.
    int TextRows(COLORREF crText) const {
        int iRows = 0;
        for (int y = 0; y < iHeight; ++y) {
            for (int x = 1; x < iWidth - 1; ++x) {
                if (At(x, y) == crText) {
                    ++iRows;
                    break;
                }
            }
        }
        return iRows;
    }
    // The leftmost column with a pixel of text, or -1.
    int FirstTextColumn(COLORREF crText) const {
        for (int x = 0; x < iWidth; ++x) {
            for (int y = 1; y < iHeight - 1; ++y) {
                if (At(x, y) == crText)
                    return x;
            }
        }
        return -1;
    }
};

Picture PaintOf(HWND hWnd) {
    Picture picture;
    RECT rect;
    if (hWnd == nullptr || !GetClientRect(hWnd, &rect) || rect.right <= 0 || rect.bottom <= 0)
        return picture;
    picture.iWidth = rect.right;
    picture.iHeight = rect.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.iWidth;
    info.bmiHeader.biHeight = -picture.iHeight; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HDC hDC = CreateCompatibleDC(nullptr);
    HBITMAP hBitmap = CreateDIBSection(hDC, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (hDC == nullptr || hBitmap == nullptr)
        return picture;
    HGDIOBJ hOld = SelectObject(hDC, hBitmap);
    const auto* pPixels = static_cast<const DWORD*>(pBits);
    const int iCount = picture.iWidth * picture.iHeight;
    std::fill(static_cast<DWORD*>(pBits), static_cast<DWORD*>(pBits) + iCount, 0x00FF00FFu);
    SendMessageA(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hDC), PRF_CLIENT);
    GdiFlush();
    for (int i = 0; i < iCount; ++i) {
        DWORD dwPixel = pPixels[i]; // 0x00RRGGBB
        picture.pixels.push_back(RGB((dwPixel >> 16) & 0xFF, (dwPixel >> 8) & 0xFF, dwPixel & 0xFF));
    }
    SelectObject(hDC, hOld);
    DeleteObject(hBitmap);
    DeleteDC(hDC);
    return picture;
}

bool IsAmber(COLORREF cr) {
    return GetRValue(cr) > 200 && GetGValue(cr) > 120 && GetGValue(cr) < 230 && GetBValue(cr) < 80;
}

bool IsGreen(COLORREF cr) {
    return GetGValue(cr) > 120 && GetRValue(cr) < 80 && GetBValue(cr) < 80;
}

int PointsToHeight(int iPoints) {
    HDC hScreen = GetDC(nullptr);
    int iHeight = -MulDiv(iPoints, GetDeviceCaps(hScreen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, hScreen);
    return iHeight;
}

class Indicator : public ::testing::Test {
  protected:
    ControlLibraries libraries; // freed after the parent and its controls are gone
    HiddenParent parent;

    void SetUp() override {
        ASSERT_TRUE(libraries.Loaded());
        ASSERT_NE(parent.hWnd, nullptr);
    }

    HWND Create(const char* pszText, DWORD dwBits, int iWidth = 80, int iHeight = 20) {
        return CreateWindowExA(0, CC_BUTTON_CLASS, pszText, WS_CHILD | WS_VISIBLE | dwBits, 0, 0, iWidth,
                               iHeight, parent.hWnd, reinterpret_cast<HMENU>(2010), GetModuleHandleA(nullptr),
                               nullptr);
    }
};

} // namespace

TEST(ControlLibraries, RegisterAGlobalClassOnlyWhileLoaded) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    {
        ControlLibraries libraries;
        ASSERT_TRUE(libraries.Loaded());
        // Found through this program's own instance: the class is global.
        ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), CC_BUTTON_CLASS, &wc));
        EXPECT_TRUE(wc.style & CS_GLOBALCLASS);
    }
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), CC_BUTTON_CLASS, &wc));
    EXPECT_EQ(GetModuleHandleA("vorn_cc.dll"), nullptr);

    // The same libraries load again and register the class again.
    ControlLibraries again;
    ASSERT_TRUE(again.Loaded());
    EXPECT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), CC_BUTTON_CLASS, &wc));
}

TEST(ControlLibraries, ClassLibraryDoesNotLoadWithoutTheBaseLibrary) {
    ASSERT_EQ(GetModuleHandleA("vorn_cc.dll"), nullptr);
    char szTemp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof szTemp, szTemp), 0u);
    std::string sFolder = std::string(szTemp) + "dravik_cc09_" + std::to_string(GetCurrentProcessId());
    std::string sCopy = sFolder + "\\vorn_cc09.dll";
    CreateDirectoryA(sFolder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(PackageFile("vorn_cc09.dll").c_str(), sCopy.c_str(), FALSE));

    HMODULE hClass = LoadLibraryA(sCopy.c_str());
    EXPECT_EQ(hClass, nullptr);
    if (hClass != nullptr)
        FreeLibrary(hClass);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), CC_BUTTON_CLASS, &wc));
    DeleteFileA(sCopy.c_str());
    RemoveDirectoryA(sFolder.c_str());
}

TEST_F(Indicator, TextGivesCaptionAndFont) {
    HWND hWnd = Create("???$arialbold,8$0", 6);
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(WindowText(hWnd), "???");
    LOGFONTA font = FontOf(hWnd);
    EXPECT_TRUE(SameFace(font.lfFaceName, "arial")) << font.lfFaceName;
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    EXPECT_EQ(font.lfHeight, PointsToHeight(8));
    EXPECT_FALSE(font.lfItalic);

    // The dialog's font comes after creation and must not replace the one the text named.
    HFONT hNamed = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0));
    SendMessageA(hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0)), hNamed);

    // A caption without fields keeps the font; a face with blanks, a size and the italic flag.
    SetWindowTextA(hWnd, "Rx Only");
    EXPECT_EQ(WindowText(hWnd), "Rx Only");
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0)), hNamed);
    SetWindowTextA(hWnd, "Go$Courier New,12$1");
    EXPECT_EQ(WindowText(hWnd), "Go");
    font = FontOf(hWnd);
    EXPECT_TRUE(SameFace(font.lfFaceName, "Courier New")) << font.lfFaceName;
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_EQ(font.lfHeight, PointsToHeight(12));
    EXPECT_TRUE(font.lfItalic);

    // A bad size falls back to 8 points; an empty face leaves the font alone.
    SetWindowTextA(hWnd, "A$Arial,0");
    EXPECT_EQ(FontOf(hWnd).lfHeight, PointsToHeight(8));
    HFONT hBefore = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0));
    SetWindowTextA(hWnd, "B$,20$2");
    EXPECT_EQ(WindowText(hWnd), "B");
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0)), hBefore);

    // Without a named face the font given by WM_SETFONT is the one used.
    HWND hPlain = Create("plain", 6);
    HFONT hGui = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageA(hPlain, WM_SETFONT, reinterpret_cast<WPARAM>(hGui), FALSE);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(hPlain, WM_GETFONT, 0, 0)), hGui);
}

TEST_F(Indicator, DisplayCommandsChangeTheLookButNotTheCaption) {
    HWND hWnd = Create("???$arialbold,8$0", 6);
    ASSERT_NE(hWnd, nullptr);
    const COLORREF crFace = GetSysColor(COLOR_BTNFACE);
    Picture picture = PaintOf(hWnd);
    ASSERT_EQ(picture.iWidth, 80);
    EXPECT_EQ(picture.At(2, 2), crFace);
    EXPECT_GE(picture.FirstTextColumn(GetSysColor(COLOR_BTNTEXT)), 0) << "no caption drawn";
    EXPECT_EQ(SendMessageA(hWnd, CCM_GETLOOK, 0, 0), CC_LOOK_NEUTRAL);

    // As link supervision sets them: the caption, then the command.
    SetWindowTextA(hWnd, "Rx Only");
    SetWindowTextA(hWnd, "/__1B");
    EXPECT_EQ(WindowText(hWnd), "Rx Only");
    picture = PaintOf(hWnd);
    EXPECT_TRUE(IsAmber(picture.At(2, 2))) << std::hex << picture.At(2, 2);
    EXPECT_GE(picture.FirstTextColumn(RGB(0, 0, 0)), 0) << "no caption drawn";
    EXPECT_EQ(SendMessageA(hWnd, CCM_GETLOOK, 0, 0), CC_LOOK_RX_ONLY);

    SetWindowTextA(hWnd, "TX/RX");
    SetWindowTextA(hWnd, "/__2B");
    EXPECT_EQ(WindowText(hWnd), "TX/RX");
    EXPECT_TRUE(IsGreen(PaintOf(hWnd).At(2, 2))) << std::hex << PaintOf(hWnd).At(2, 2);

    // An unknown command changes nothing, not even the caption.
    SetWindowTextA(hWnd, "/__3B");
    EXPECT_EQ(WindowText(hWnd), "TX/RX");
    EXPECT_TRUE(IsGreen(PaintOf(hWnd).At(2, 2)));

    // The unknown state: a plain caption and no command.
    SetWindowTextA(hWnd, "????");
    EXPECT_EQ(WindowText(hWnd), "????");
    EXPECT_EQ(PaintOf(hWnd).At(2, 2), crFace);
    EXPECT_EQ(SendMessageA(hWnd, CCM_GETLOOK, 0, 0), CC_LOOK_NEUTRAL);
}

TEST_F(Indicator, StyleBitsPlaceTheCaptionAndTheEdge) {
    const COLORREF crText = GetSysColor(COLOR_BTNTEXT);
    const COLORREF crFace = GetSysColor(COLOR_BTNFACE);
    Picture plain = PaintOf(Create("ab$arial,8", 0));
    Picture centred = PaintOf(Create("ab$arial,8", CCBS_CENTER));
    Picture sunken = PaintOf(Create("ab$arial,8", CCBS_SUNKEN));
    Picture raised = PaintOf(Create("ab$arial,8", CCBS_RAISED));
    Picture both = PaintOf(Create("ab$arial,8", CCBS_SUNKEN | CCBS_RAISED));

    EXPECT_EQ(plain.At(0, 0), crFace);
    EXPECT_EQ(sunken.At(0, 0), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(sunken.At(79, 19), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(raised.At(0, 0), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(both.At(0, 0), GetSysColor(COLOR_BTNSHADOW));

    int iLeft = plain.FirstTextColumn(crText);
    int iCentred = centred.FirstTextColumn(crText);
    ASSERT_GE(iLeft, 0);
    EXPECT_LE(iLeft, 3);
    EXPECT_GT(iCentred, 25);
}

TEST_F(Indicator, CaptionTooWideIsShrunkThenCut) {
    // Capitals only: a cut caption ("HH...") is as high as the whole one, a shrunk one is not.
    const COLORREF crText = GetSysColor(COLOR_BTNTEXT);
    HWND hWide = Create("HHHHHH$arialbold,8", 6, 120, 16);
    ASSERT_NE(hWide, nullptr);
    int iFullRows = PaintOf(hWide).TextRows(crText);
    ASSERT_GT(iFullRows, 0);

    // A quarter narrower than the caption at 8 points: drawn smaller, not cut.
    HDC hDC = GetDC(hWide);
    HGDIOBJ hOld = SelectObject(hDC, reinterpret_cast<HGDIOBJ>(SendMessageA(hWide, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(hDC, "HHHHHH", 6, &size);
    SelectObject(hDC, hOld);
    ReleaseDC(hWide, hDC);
    Picture shrunk = PaintOf(Create("HHHHHH$arialbold,8", 6, size.cx * 3 / 4 + 4, 16));
    EXPECT_GT(shrunk.TextRows(crText), 0);
    EXPECT_LT(shrunk.TextRows(crText), iFullRows);

    // Too wide even at the smallest size: it starts at the left edge, centred or not.
    Picture cut = PaintOf(Create("RxOnlyBroken$arialbold,8", 6, 30, 16));
    int iCut = cut.FirstTextColumn(crText);
    EXPECT_GE(iCut, 0);
    EXPECT_LE(iCut, 3);
}
