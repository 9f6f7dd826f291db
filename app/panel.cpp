#include "app/panel.h"

#include <array>
#include <cstdio>

int iInfodriverTx = 0;
int iInfodriverRx = 0;

namespace {
std::array<std::array<char, PANEL_TEXT_CHARS>, PANEL_LAST_CONTROL - PANEL_FIRST_CONTROL + 1> PanelTexts{};
}

void SetPanelText(int iControl, const char* pszText) {
    if (iControl < PANEL_FIRST_CONTROL || iControl > PANEL_LAST_CONTROL)
        return;
    auto& szText = PanelTexts[iControl - PANEL_FIRST_CONTROL];
    std::snprintf(szText.data(), szText.size(), "%s", pszText);
}

const char* GetPanelText(int iControl) {
    if (iControl < PANEL_FIRST_CONTROL || iControl > PANEL_LAST_CONTROL)
        return "";
    return PanelTexts[iControl - PANEL_FIRST_CONTROL].data();
}

void ClearPanelTexts() {
    PanelTexts = {};
}
