#include "tools/controls/caption.h"
#include "tools/controls/vorn_cc.h"

#include <cctype>
#include <cstring>

namespace {

constexpr char COMMAND_PREFIX[] = "/__";
constexpr char BOLD_SUFFIX[] = "bold";
constexpr int BOLD_SUFFIX_CHARS = sizeof BOLD_SUFFIX - 1;

// Copies [pszBegin, pszEnd) into szOut of iSize characters, cut to fit, without outer blanks.
void CopyTrimmed(const char* pszBegin, const char* pszEnd, char* szOut, int iSize) {
    while (pszBegin < pszEnd && *pszBegin == ' ')
        ++pszBegin;
    while (pszEnd > pszBegin && pszEnd[-1] == ' ')
        --pszEnd;
    int iLength = static_cast<int>(pszEnd - pszBegin);
    if (iLength > iSize - 1)
        iLength = iSize - 1;
    std::memcpy(szOut, pszBegin, iLength);
    szOut[iLength] = 0;
}

// Leading decimal digits of the field that starts at psz; -1 when there are none. Stops short of
// overflow: any value above iLimit is as bad as iLimit + 1.
int FieldNumber(const char* psz, int iLimit) {
    while (*psz == ' ')
        ++psz;
    if (!std::isdigit(static_cast<unsigned char>(*psz)))
        return -1;
    int iValue = 0;
    for (; std::isdigit(static_cast<unsigned char>(*psz)); ++psz) {
        iValue = iValue * 10 + (*psz - '0');
        if (iValue > iLimit)
            return iLimit + 1;
    }
    return iValue;
}

void TakeBoldSuffix(CaptionText* pText) {
    int iLength = static_cast<int>(std::strlen(pText->szFace));
    if (iLength <= BOLD_SUFFIX_CHARS)
        return; // "bold" alone is a face name, not a suffix
    char* pszSuffix = pText->szFace + iLength - BOLD_SUFFIX_CHARS;
    for (int i = 0; i < BOLD_SUFFIX_CHARS; ++i) {
        if (std::tolower(static_cast<unsigned char>(pszSuffix[i])) != BOLD_SUFFIX[i])
            return;
    }
    *pszSuffix = 0;
    pText->bBold = 1;
}

} // namespace

int IsDisplayCommand(const char* pszText) {
    return std::strncmp(pszText, COMMAND_PREFIX, sizeof COMMAND_PREFIX - 1) == 0;
}

int CommandLook(const char* pszText) {
    if (std::strcmp(pszText, "/__1B") == 0)
        return CC_LOOK_RX_ONLY;
    if (std::strcmp(pszText, "/__2B") == 0)
        return CC_LOOK_TXRX;
    return -1;
}

void ParseCaptionText(const char* pszText, CaptionText* pText) {
    *pText = CaptionText{};
    pText->iPoints = CC_DEFAULT_POINTS;

    const char* pszFields = std::strchr(pszText, '$');
    const char* pszCaptionEnd = pszFields ? pszFields : pszText + std::strlen(pszText);
    int iCaption = static_cast<int>(pszCaptionEnd - pszText);
    if (iCaption > CC_CAPTION_CHARS - 1)
        iCaption = CC_CAPTION_CHARS - 1;
    std::memcpy(pText->szCaption, pszText, iCaption);
    pText->szCaption[iCaption] = 0;
    if (pszFields == nullptr)
        return;

    const char* pszFace = pszFields + 1;
    const char* pszFlags = std::strchr(pszFace, '$');
    const char* pszFontEnd = pszFlags ? pszFlags : pszFace + std::strlen(pszFace);
    const char* pszComma = static_cast<const char*>(std::memchr(pszFace, ',', pszFontEnd - pszFace));
    CopyTrimmed(pszFace, pszComma ? pszComma : pszFontEnd, pText->szFace, LF_FACESIZE);
    TakeBoldSuffix(pText);

    if (pszComma != nullptr) {
        int iPoints = FieldNumber(pszComma + 1, CC_MAX_POINTS);
        if (iPoints >= 1 && iPoints <= CC_MAX_POINTS)
            pText->iPoints = iPoints;
    }
    if (pszFlags != nullptr) {
        int iFlags = FieldNumber(pszFlags + 1, 0xFFFF);
        if (iFlags > 0 && iFlags <= 0xFFFF)
            pText->iFlags = iFlags;
    }
}
