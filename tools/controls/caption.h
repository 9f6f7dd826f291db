#pragma once
// Reading the indicator's window text (the format is described in vorn_cc.h).
#include <windows.h>

constexpr int CC_CAPTION_CHARS = 256; // a longer caption is cut
constexpr int CC_DEFAULT_POINTS = 8;
constexpr int CC_MAX_POINTS = 72;

struct CaptionText {
    char szCaption[CC_CAPTION_CHARS];
    char szFace[LF_FACESIZE]; // "": the text names no font
    int iPoints;
    int bBold;
    int iFlags;
};

// 1 for a display command text ("/__..."), which is never a caption.
int IsDisplayCommand(const char* pszText);
// The look a display command asks for: CC_LOOK_..., or -1 for a command we do not know.
int CommandLook(const char* pszText);

void ParseCaptionText(const char* pszText, CaptionText* pText);
