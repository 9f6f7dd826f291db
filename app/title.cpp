#include "app/title.h"

#include "app/mainwnd.h"
#include "protocol/settings.h"
#include "resources/resource.h"

#include <cstdio>

char szWindowTitle[TITLE_CHARS] = "";

namespace {
char szTitleFormat[TITLE_CHARS] = "";
char szVersion[TITLE_CHARS] = "";
} // namespace

void LoadTitleStrings(HINSTANCE hInst) {
    LoadStringA(hInst, IDS_TITLE_FORMAT, szTitleFormat, sizeof szTitleFormat);
    LoadStringA(hInst, IDS_VERSION, szVersion, sizeof szVersion);
}

void FormatWindowTitle(const char* pszState) {
    // The format is our own string table's, never outside text.
    szWindowTitle[0] = '\0';
    if (szTitleFormat[0] != '\0')
        std::snprintf(szWindowTitle, sizeof szWindowTitle, szTitleFormat, iDeviceNumber, pszState, szVersion);
}

void ShowTitleState(const char* pszState) {
    FormatWindowTitle(pszState);
    if (hMainWnd != nullptr)
        SetWindowTextA(hMainWnd, szWindowTitle);
}
