#pragma once
// Status panel texts. Until the main window exists the panel is a table of control texts that
// tests and tools can read back.
#include "protocol/external.h"

constexpr int PANEL_FIRST_CONTROL = 1000;
constexpr int PANEL_LAST_CONTROL = 2099;
constexpr int PANEL_TEXT_CHARS = 64;

// The text last set on a control; "" for one never set or outside the panel.
const char* GetPanelText(int iControl);
void ClearPanelTexts();
