#pragma once
// The driver's main window: its creation runs the start-up sequence, its procedure routes the
// serial notifications, the tick and the menu.
#include <windows.h>

constexpr int MAIN_WIDTH = 580;
constexpr int MAIN_FULL_HEIGHT = 640;
// Each read of the reader asks for this much: its whole buffer. A read returns as soon as bytes are
// there, with what there is, so the size costs no latency; smaller, a burst of the line took a read
// for every 16 bytes, each a trip through the system.
constexpr int PORT_READ_SIZE = 256;

extern HINSTANCE hInst; // the program's module: every resource, window and dialog comes from it
extern HWND hMainWnd;   // the main window once created; destroying it ends the program
extern int panelHeight; // the status panel's client height plus 2; the debug list starts there

// The main window's height with the debug list in view (bFull), or covered: then its client area
// is the status panel's, whatever the system's caption, menu and border take. In view the height
// is 640, unless the frame is so large that the panel would not fit whole.
int MainWindowHeight(HWND hWnd, bool bFull);

// The main window class (string 107), registered once. Its result is not examined: a failed
// registration shows when the window is created.
void RegisterMainClass(const char* pszClassName);
LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);
// Destroys the main window, which ends the program. Only a destruction begun here is taken for
// one: a WM_DESTROY that another process sends or posts is not.
void CloseMainWindow();
