// The driver's resources as the main window will use them: the status panel with the control
// libraries loaded, the About box, the menu and accelerators, the icon, the version block and the
// application manifest.
#include "resources/resource.h"
#include "tests/tools/control_libraries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

INT_PTR CALLBACK PanelProc(HWND, UINT iMessage, WPARAM, LPARAM) {
    return iMessage == WM_INITDIALOG;
}

std::string ClassOf(HWND hWnd) {
    char szClass[64] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    return szClass;
}

DWORD StyleOf(HWND hWnd) {
    return static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
}

// Where the dialog manager puts a control given in dialog units: position and size are each
// converted on their own, so the far edge may differ by a pixel from converting it directly.
RECT DialogRect(HWND hDialog, int x, int y, int iWidth, int iHeight) {
    RECT units{x, y, iWidth, iHeight};
    MapDialogRect(hDialog, &units);
    return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

// A control's rectangle in its dialog's client coordinates.
RECT PlaceOf(HWND hControl) {
    RECT rect;
    GetWindowRect(hControl, &rect);
    MapWindowPoints(nullptr, GetParent(hControl), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}

std::string RectText(const RECT& rect) {
    char szText[64];
    std::snprintf(szText, sizeof szText, "(%ld,%ld)-(%ld,%ld)", rect.left, rect.top, rect.right, rect.bottom);
    return szText;
}

// Every child of the dialog with the given class and text.
std::vector<HWND> ChildrenWith(HWND hDialog, const char* pszClass, const char* pszText) {
    std::vector<HWND> found;
    for (HWND hChild = GetWindow(hDialog, GW_CHILD); hChild != nullptr;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        if (lstrcmpiA(ClassOf(hChild).c_str(), pszClass) == 0 && WindowText(hChild) == pszText)
            found.push_back(hChild);
    }
    return found;
}

class StatusPanel : public ::testing::Test {
  protected:
    ControlLibraries libraries;
    HiddenParent parent;
    HWND hPanel = nullptr;

    void SetUp() override {
        ASSERT_TRUE(libraries.Loaded());
        hPanel = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), parent.hWnd,
                                    PanelProc, 0);
        ASSERT_NE(hPanel, nullptr);
    }
};

} // namespace

TEST_F(StatusPanel, IsABorderlessChildWithEveryFieldOfTheTable) {
    DWORD dwStyle = StyleOf(hPanel);
    EXPECT_TRUE(dwStyle & WS_CHILD);
    EXPECT_TRUE(dwStyle & WS_VISIBLE);
    EXPECT_FALSE(dwStyle & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_DLGFRAME));
    RECT client;
    GetClientRect(hPanel, &client);
    EXPECT_TRUE(SameRect(client, DialogRect(hPanel, 0, 0, 394, 187))) << RectText(client);
    EXPECT_TRUE(SameFace(FontOf(hPanel).lfFaceName, "MS Sans Serif")) << FontOf(hPanel).lfFaceName;

    struct Field {
        int iId;
        const char* pszText;
    };
    constexpr Field FIELDS[] = {
        {IDC_INFODRIVER_RX, "00000000"},
        {IDC_INFODRIVER_TX, "00000000"},
        {IDC_TX_OUTPUT, "??"},
        {IDC_EXTENSIONS, "??"},
        {IDC_SERIAL_RX, "00000000"},
        {IDC_SERIAL_TX, "00000000"},
        {IDC_LINK_STATUS, "trying to connect"},
        {IDC_PORT_SETTINGS, "??"},
    };
    for (const Field& field : FIELDS) {
        HWND hField = GetDlgItem(hPanel, field.iId);
        ASSERT_NE(hField, nullptr) << field.iId;
        EXPECT_EQ(WindowText(hField), field.pszText) << field.iId;
        EXPECT_EQ(lstrcmpiA(ClassOf(hField).c_str(), "Static"), 0) << field.iId;
        EXPECT_EQ(StyleOf(hField) & (SS_TYPEMASK | SS_SUNKEN), static_cast<DWORD>(SS_LEFT | SS_SUNKEN))
            << field.iId;
        EXPECT_EQ(IsWindowEnabled(hField) != FALSE, field.iId != IDC_SERIAL_TX) << field.iId;
    }
    // The serial Tx label is disabled with its field; the other "Tx:" is not.
    std::vector<HWND> txLabels = ChildrenWith(hPanel, "Static", "Tx:");
    ASSERT_EQ(txLabels.size(), 2u);
    EXPECT_EQ(IsWindowEnabled(txLabels[0]) + IsWindowEnabled(txLabels[1]), 1);
    for (const char* pszGroup : {"InfoDriver", "Dravik", "Serial", "Com Port", "Tallies"}) {
        std::vector<HWND> groups = ChildrenWith(hPanel, "Button", pszGroup);
        ASSERT_EQ(groups.size(), 1u) << pszGroup;
        EXPECT_EQ(StyleOf(groups[0]) & BS_TYPEMASK, static_cast<DWORD>(BS_GROUPBOX)) << pszGroup;
    }
}

TEST_F(StatusPanel, IndicatorIsTheLibraryControlWithItsCaptionFont) {
    HWND hIndicator = GetDlgItem(hPanel, IDC_REDUNDANCY_MODE);
    ASSERT_NE(hIndicator, nullptr);
    EXPECT_EQ(ClassOf(hIndicator), CC_BUTTON_CLASS);
    EXPECT_EQ(StyleOf(hIndicator) & 0xFFFF, 6u);
    EXPECT_TRUE(StyleOf(hIndicator) & WS_VISIBLE);
    EXPECT_EQ(WindowText(hIndicator), "???");
    // The dialog gives every control its font after creation; the caption's font stays.
    LOGFONTA font = FontOf(hIndicator);
    EXPECT_TRUE(SameFace(font.lfFaceName, "arial")) << font.lfFaceName;
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    RECT place = PlaceOf(hIndicator);
    EXPECT_TRUE(SameRect(place, DialogRect(hPanel, 173, 15, 28, 10))) << RectText(place);
}

TEST_F(StatusPanel, TallyBoxesFollowTheRowAndColumnRule) {
    constexpr int ROW_Y[] = {75, 88, 101, 114, 126, 139, 152};
    for (int iTally = 1; iTally <= 128; ++iTally) {
        int iRow = (iTally - 1) / 20;
        int iColumn = (iTally - 1) % 20;
        int x = (iRow < 6 && iColumn < 10 ? 13 : 14) + 18 * iColumn;
        HWND hBox = GetDlgItem(hPanel, IDC_TALLY_FIRST + iTally - 1);
        ASSERT_NE(hBox, nullptr) << "tally " << iTally;
        EXPECT_EQ(WindowText(hBox), std::to_string(iTally));
        EXPECT_EQ(StyleOf(hBox) & (SS_TYPEMASK | SS_SUNKEN), static_cast<DWORD>(SS_CENTER | SS_SUNKEN));
        RECT place = PlaceOf(hBox);
        EXPECT_TRUE(SameRect(place, DialogRect(hPanel, x, ROW_Y[iRow], 14, 11)))
            << "tally " << iTally << " at " << RectText(place);
    }
    EXPECT_EQ(GetDlgItem(hPanel, IDC_TALLY_LAST + 1), nullptr);
}

TEST(AboutBox, HasIconTextsAndEmptyFieldsForTheDialogProcedure) {
    HiddenParent parent;
    HWND hAbout =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), parent.hWnd, PanelProc, 0);
    ASSERT_NE(hAbout, nullptr);
    EXPECT_EQ(WindowText(hAbout), "About Dravik");
    EXPECT_TRUE(StyleOf(hAbout) & WS_SYSMENU);
    EXPECT_NE(SendDlgItemMessageA(hAbout, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
    EXPECT_EQ(WindowText(GetDlgItem(hAbout, IDC_ABOUT_VERSION)), "");
    EXPECT_EQ(WindowText(GetDlgItem(hAbout, IDC_ABOUT_BUILD)), "");
    ASSERT_NE(GetDlgItem(hAbout, IDOK), nullptr);
    EXPECT_EQ(StyleOf(GetDlgItem(hAbout, IDOK)) & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(ChildrenWith(hAbout, "Static", "VORN Driver for Dravik serial tallies").size(), 1u);
    DestroyWindow(hAbout);
}

TEST(Menu, CarriesTheCommandsAndTheRightAlignedHelp) {
    HMENU hMenu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE(hMenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(hMenu), 4);
    auto Ids = [](HMENU hPopup) {
        std::vector<int> ids;
        for (int i = 0; i < GetMenuItemCount(hPopup); ++i)
            ids.push_back(static_cast<int>(GetMenuItemID(hPopup, i)));
        return ids;
    };
    EXPECT_EQ(Ids(GetSubMenu(hMenu, 0)), std::vector<int>{IDM_EXIT});
    EXPECT_EQ(Ids(GetSubMenu(hMenu, IDM_POPUP_DEBUG)),
              (std::vector<int>{IDM_DEBUG_ON, IDM_DEBUG_HIDE, 0, IDM_DEBUG_CLEAR, 0, IDM_DEBUG_RECORD}));
    EXPECT_EQ(Ids(GetSubMenu(hMenu, IDM_POPUP_LOG)), std::vector<int>{IDM_LOG_ENABLE});
    EXPECT_EQ(Ids(GetSubMenu(hMenu, 3)), std::vector<int>{IDM_ABOUT});

    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STATE;
    ASSERT_TRUE(GetMenuItemInfoA(GetSubMenu(hMenu, IDM_POPUP_DEBUG), 2, TRUE, &item));
    EXPECT_TRUE(item.fType & MFT_SEPARATOR);
    ASSERT_TRUE(GetMenuItemInfoA(hMenu, 3, TRUE, &item));
    EXPECT_TRUE(item.fType & MFT_RIGHTJUSTIFY);
    ASSERT_TRUE(GetMenuItemInfoA(GetSubMenu(hMenu, IDM_POPUP_DEBUG), 0, TRUE, &item));
    EXPECT_FALSE(item.fState & MFS_CHECKED);
    char szText[32] = "";
    GetMenuStringA(hMenu, 1, szText, sizeof szText, MF_BYPOSITION);
    EXPECT_STREQ(szText, "D&ebug");
    GetMenuStringA(GetSubMenu(hMenu, IDM_POPUP_DEBUG), IDM_DEBUG_RECORD, szText, sizeof szText, MF_BYCOMMAND);
    EXPECT_STREQ(szText, "Record line");
    DestroyMenu(hMenu);

    HACCEL hAccel = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINMENU));
    ASSERT_NE(hAccel, nullptr);
    ACCEL keys[4]{};
    ASSERT_EQ(CopyAcceleratorTableA(hAccel, keys, 4), 2);
    EXPECT_EQ(keys[0].key, VK_F1);
    EXPECT_EQ(keys[0].cmd, IDM_ABOUT);
    EXPECT_EQ(keys[1].key, VK_F10);
    EXPECT_EQ(keys[1].cmd, IDM_EXIT);
    for (const ACCEL& key : {keys[0], keys[1]})
        EXPECT_EQ(key.fVirt & (FVIRTKEY | FNOINVERT | FSHIFT | FCONTROL | FALT), FVIRTKEY | FNOINVERT);
    DestroyAcceleratorTable(hAccel);
}

TEST(VersionBlock, FileVersionReadsBackThroughTheTranslationPair) {
    char szPath[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(nullptr, szPath, sizeof szPath), 0u);
    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(szPath, &dwHandle);
    ASSERT_NE(dwSize, 0u);
    std::vector<char> block(dwSize);
    ASSERT_TRUE(GetFileVersionInfoA(szPath, 0, dwSize, block.data()));

    // As the About box does it: the first pair of the Translation value names the string table.
    WORD* pPair = nullptr;
    UINT iLength = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pPair),
                               &iLength));
    ASSERT_GE(iLength, 4u);
    char szTable[16];
    std::snprintf(szTable, sizeof szTable, "%04X%04X", pPair[0], pPair[1]);
    EXPECT_STREQ(szTable, "080904B0");
    auto Value = [&](const char* pszName) {
        std::string sQuery = std::string("\\StringFileInfo\\") + szTable + "\\" + pszName;
        char* pszValue = nullptr;
        UINT iChars = 0;
        if (!VerQueryValueA(block.data(), sQuery.c_str(), reinterpret_cast<void**>(&pszValue), &iChars))
            return std::string("(missing)");
        return std::string(pszValue);
    };
    EXPECT_EQ(Value("FileVersion"), "1.3.00");
    EXPECT_EQ(Value("ProductVersion"), "1, 3, 0, 0");
    EXPECT_EQ(Value("FileDescription"), "VORN Driver");
    EXPECT_EQ(Value("ProductName"), "Dravik");

    VS_FIXEDFILEINFO* pFixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&pFixed), &iLength));
    EXPECT_EQ(pFixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(3, 1)));
    EXPECT_EQ(pFixed->dwFileVersionLS, 0u);
    EXPECT_EQ(pFixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(3, 1)));
    EXPECT_EQ(pFixed->dwProductVersionLS, 0u);
}

TEST(Resources, AreEnglishUnitedKingdomWithIconsOf16To48PixelsIn16Colours) {
    const WORD wLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
    struct Item {
        LPCSTR pszType;
        int iId;
    };
    const Item ITEMS[] = {
        {RT_DIALOG, IDD_STATUS},
        {RT_DIALOG, IDD_ABOUT},
        {RT_MENU, IDR_MAINMENU},
        {RT_ACCELERATOR, IDR_MAINMENU},
        {RT_GROUP_ICON, IDI_DRAVIK},
        {RT_VERSION, IDV_VERSION},
        {RT_STRING, IDS_TITLE_FORMAT / 16 + 1},
        {RT_MANIFEST, 1},
    };
    HMODULE hModule = GetModuleHandleA(nullptr);
    for (const Item& item : ITEMS) {
        EXPECT_NE(FindResourceExA(hModule, item.pszType, MAKEINTRESOURCEA(item.iId), wLanguage), nullptr)
            << "type " << reinterpret_cast<UINT_PTR>(item.pszType) << " id " << item.iId;
    }

#pragma pack(push, 2)
    struct GroupEntry {
        BYTE bWidth, bHeight, bColourCount, bReserved;
        WORD wPlanes, wBitCount;
        DWORD dwBytes;
        WORD wId;
    };
    struct GroupHeader {
        WORD wReserved, wType, wCount;
        GroupEntry entries[1];
    };
#pragma pack(pop)
    static_assert(sizeof(GroupEntry) == 14, "icon group entry as stored");
    HRSRC hGroup = FindResourceExA(hModule, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_DRAVIK), wLanguage);
    ASSERT_NE(hGroup, nullptr);
    const auto* pGroup = static_cast<const GroupHeader*>(LockResource(LoadResource(hModule, hGroup)));
    ASSERT_NE(pGroup, nullptr);
    // The title bar's, the desktop's and the large views' own sizes, so that none is scaled.
    constexpr BYTE SIZES[] = {16, 32, 48};
    ASSERT_EQ(pGroup->wCount, 3);
    for (int i = 0; i < 3; ++i) {
        const GroupEntry& entry = pGroup->entries[i];
        EXPECT_EQ(entry.bWidth, SIZES[i]);
        EXPECT_EQ(entry.bHeight, SIZES[i]);
        EXPECT_EQ(entry.bColourCount, 16);
        EXPECT_EQ(entry.wBitCount, 4);
    }
}

TEST(Resources, TheManifestIsTakenByTheSystemAndAsksForNoElevationAndNoScalingOfItsOwn) {
    HMODULE hModule = GetModuleHandleA(nullptr);
    // The system reads it as it starts the program: a manifest it cannot read stops the start.
    ACTCTXA context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    context.hModule = hModule;
    context.lpResourceName = MAKEINTRESOURCEA(1);
    char szPath[MAX_PATH];
    GetModuleFileNameA(hModule, szPath, sizeof szPath);
    context.lpSource = szPath;
    HANDLE hContext = CreateActCtxA(&context);
    ASSERT_NE(hContext, INVALID_HANDLE_VALUE) << GetLastError();
    ReleaseActCtx(hContext);

    HRSRC hManifest = FindResourceA(hModule, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(hManifest, nullptr);
    const std::string sManifest(static_cast<const char*>(LockResource(LoadResource(hModule, hManifest))),
                                SizeofResource(hModule, hManifest));
    for (const char* pszPart : {
             "level=\"asInvoker\" uiAccess=\"false\"",
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
             ">false</dpiAware>",
             ">unaware</dpiAwareness>",
         })
        EXPECT_NE(sManifest.find(pszPart), std::string::npos) << pszPart;
}
