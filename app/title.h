#pragma once
// The main window's title, "Dravik_007 - loading - V1.3.0": device number, state word, version.
// The initial title also names the single-instance mutex.
#include <windows.h>

#include "protocol/external.h"

constexpr int TITLE_CHARS = 100;

extern char szWindowTitle[TITLE_CHARS];

// Loads the title format (string 103) and the version text (string 111) of the module.
void LoadTitleStrings(HINSTANCE hInst);
// szWindowTitle filled in with the device number, the state word and the version text.
void FormatWindowTitle(const char* pszState);
