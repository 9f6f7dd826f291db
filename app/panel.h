#pragma once
// The status panel: dialog 130 at the top of the main window's client area. Every Part writes its
// fields by control id through SetPanelText.
#include <windows.h>

#include "protocol/external.h"

extern HWND hStatusPanel; // null until the panel exists: writes are then dropped

// The panel as a modeless child dialog of hParent, at (0, 0). It becomes hStatusPanel.
HWND CreateStatusPanel(HWND hParent);
// The panel's client height plus 2: where the debug list starts.
int PanelHeight();
// The current text of a panel control ("" when there is none).
void GetPanelText(int iControl, char* pszText, int iSize);
