#pragma once
// Our stand-ins for the control system's two control libraries.
//
// vorn_cc.dll holds the indicator control: its window procedure, its drawing and the reading of
// its window text. vorn_cc09.dll imports the window procedure from it, registers the window class
// "OLM_CC09_Button" as a global class (CS_GLOBALCLASS) when it is loaded and unregisters it when
// it is unloaded. A process that loads vorn_cc.dll and then vorn_cc09.dll can therefore create the
// control in any dialog; without vorn_cc.dll, vorn_cc09.dll does not load at all.
//
// Window text
//
//   caption[$face[bold],points[$flags]]
//
//   caption  everything before the first "$": what the control shows and what WM_GETTEXT returns.
//   face     a font face name; a suffix "bold" (any case) selects the bold weight and is not part
//            of the name: "arialbold" is Arial in bold. An empty face leaves the font as it was.
//   points   the size in points, 1 to 72; missing or out of range gives 8.
//   flags    a decimal number: CCF_ITALIC, CCF_UNDERLINE; other bits are ignored.
//
//   "???$arialbold,8$0" shows "???" in bold Arial 8. A text without "$" only changes the caption.
//   Until a text names a face, the control uses the font given by WM_SETFONT, else the system
//   font; a face named in the text wins over WM_SETFONT.
//
//   A text that starts with "/__" is a display command, never a caption: the caption and the
//   font stay as they were. "/__1B" shows the receive-only look (amber), "/__2B" the TX/RX look
//   (green); any other command changes nothing. Setting a caption returns the control to the
//   neutral look (the system's button face), which is also its look at creation.
//
// Style bits (the low, class-specific bits of the window style)
//
//   CCBS_RAISED  0x0001  a raised one-pixel edge
//   CCBS_CENTER  0x0002  the caption centred (else left-aligned)
//   CCBS_SUNKEN  0x0004  a sunken one-pixel edge, as SS_SUNKEN fields have; wins over CCBS_RAISED
//
//   The status panel's indicator has 6: a centred caption in a sunken edge.
//
// The caption is one line, centred vertically; a disabled control draws it grey. A caption wider
// than the control is drawn in a smaller size of its font, down to 8 pixels high ("Rx Only" fits
// the status panel's indicator that way); if it still does not fit it is left-aligned and cut
// with an ellipsis, whatever the style.
#include <windows.h>

#if defined(VORN_CC_BUILD)
#define VORN_CC_API __declspec(dllexport)
#else
#define VORN_CC_API __declspec(dllimport)
#endif

#define CC_BUTTON_CLASS "OLM_CC09_Button"

constexpr DWORD CCBS_RAISED = 0x0001;
constexpr DWORD CCBS_CENTER = 0x0002;
constexpr DWORD CCBS_SUNKEN = 0x0004;

constexpr int CCF_ITALIC = 1;
constexpr int CCF_UNDERLINE = 2;

// Looks, as CCM_GETLOOK returns them.
constexpr int CC_LOOK_NEUTRAL = 0;
constexpr int CC_LOOK_RX_ONLY = 1; // "/__1B"
constexpr int CC_LOOK_TXRX = 2;    // "/__2B"

// wParam and lParam 0; returns the current look. For tests and tools: the driver reads nothing back.
constexpr UINT CCM_GETLOOK = WM_USER + 1;

// Window extra bytes the class must reserve.
constexpr int CC_BUTTON_EXTRA_BYTES = 3 * sizeof(LONG_PTR);

extern "C" VORN_CC_API LRESULT CALLBACK CcButtonProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam);
