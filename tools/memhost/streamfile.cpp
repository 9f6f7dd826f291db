#include "tools/memhost/streamfile.h"

#include <cstdio>

namespace {

int HexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Plain ASCII text: a hex file with a typing fault, not a capture.
bool IsPlainText(const std::vector<unsigned char>& content) {
    for (unsigned char c : content)
        if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c >= 0x7F)
            return false;
    return true;
}

bool IsSeparator(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

int ParseHex(const std::vector<unsigned char>& text, std::vector<unsigned char>& bytes, std::string& sWhy) {
    int iLine = 1, iHigh = -1;
    bool bComment = false;
    for (unsigned char c : text) {
        if (c == '\n')
            bComment = false;
        if (bComment)
            continue;
        if (c == '#' || c == ';' || IsSeparator(c)) {
            if (iHigh >= 0) {
                sWhy = "line " + std::to_string(iLine) + ": odd number of hex digits";
                return 1;
            }
            bComment = c == '#' || c == ';';
            iLine += c == '\n';
            continue;
        }
        int v = HexValue(c);
        if (v < 0) {
            sWhy = "line " + std::to_string(iLine) + ": not a hex digit: '" + static_cast<char>(c) + "'";
            return 1;
        }
        if (iHigh < 0) {
            iHigh = v;
        } else {
            bytes.push_back(static_cast<unsigned char>(iHigh * 16 + v));
            iHigh = -1;
        }
    }
    if (iHigh >= 0) {
        sWhy = "odd number of hex digits at the end";
        return 1;
    }
    return 0;
}

} // namespace

int LoadStreamFile(const std::string& sPath, std::vector<unsigned char>& bytes, std::string& sError) {
    bytes.clear();
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) {
        sError = "cannot open " + sPath;
        return 1;
    }
    std::vector<unsigned char> content;
    unsigned char Buffer[4096];
    std::size_t n;
    while ((n = std::fread(Buffer, 1, sizeof Buffer, pFile)) > 0)
        content.insert(content.end(), Buffer, Buffer + n);
    std::fclose(pFile);
    std::string sWhy;
    if (ParseHex(content, bytes, sWhy) == 0)
        return 0;
    if (IsPlainText(content)) {
        sError = sPath + ": " + sWhy;
        return 1;
    }
    bytes = content;
    return 0;
}
