#include "tools/devsim/scenario.h"

#include <cstdlib>
#include <sstream>

namespace devsim {

const char* const pszScenarioHelp =
    R"(Scenario format: one step per line; '#' starts a comment. Numbers are decimal or 0x hex.
  ext on|off                     Extensions: long block (29 bytes) and short (21 bytes) messages
  block B [num=..] [bits=..]     block message B (1-4): numbers 1-12 (1-14 with ext),
                                 flags 1-88 (1-104 with ext); flag k is bit (k-1)%8 of flag byte (k-1)/8
  group G [num=..] [bits=..]     group message G (1-2): numbers 1-14, flags 1-52
  short [num=a,b] [bits=..]      short message: two numbers, flags 1-7
  output O [num=..] [on=..]      output message O (1-4): numbers 1-8; 'on' lists the numbers
                                 (1-4) whose flag is set, i.e. the tally roots
  text N "TEXT"                  text message: index N (0-255), up to 17 characters
  marker                         the marker (D1 D1)
  tally                          the tally trigger (D2 D2)
  raw HH HH ...                  bytes sent as they are (hex)
  wait MS                        pause MS milliseconds
  at MS                          wait until MS milliseconds after the start (captures use this)
  repeat N ... end               play the lines in between N times (may nest)
  say TEXT                       print TEXT when this point is reached
Lists are comma-separated: num=5,0,93 bits=1,9,10 on=1,2.
)";

namespace {

constexpr size_t MAX_STEPS = 1000000;

struct Line {
    int iNumber;
    std::vector<std::string> Words;
};

bool ParseInt(const std::string& s, long long& iValue) {
    if (s.empty())
        return false;
    // Base 10 unless "0x": a leading zero, as in "wait 0500", is not octal here.
    const bool bHex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    char* pEnd = nullptr;
    iValue = std::strtoll(s.c_str(), &pEnd, bHex ? 16 : 10);
    return *pEnd == '\0';
}

bool ParseList(const std::string& s, std::vector<int>& Values) {
    std::stringstream In(s);
    std::string sItem;
    while (std::getline(In, sItem, ',')) {
        long long i;
        if (!ParseInt(sItem, i))
            return false;
        Values.push_back(static_cast<int>(i));
    }
    return true;
}

// Words split at blanks; a double-quoted word keeps its blanks; '#' outside quotes ends the line.
std::vector<std::string> SplitWords(const std::string& sLine) {
    std::vector<std::string> Words;
    size_t i = 0;
    while (i < sLine.size()) {
        char c = sLine[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            size_t iEnd = sLine.find('"', i + 1);
            if (iEnd == std::string::npos)
                iEnd = sLine.size();
            Words.push_back("\"" + sLine.substr(i + 1, iEnd - i - 1));
            i = iEnd + 1;
        } else {
            size_t iEnd = sLine.find_first_of(" \t\r#", i);
            if (iEnd == std::string::npos)
                iEnd = sLine.size();
            Words.push_back(sLine.substr(i, iEnd - i));
            i = iEnd;
        }
    }
    return Words;
}

class Parser {
  public:
    Parser(std::vector<Line> AllLines, bool bExt) : Lines(std::move(AllLines)), bExtensions(bExt) {}

    // Parses lines from iPos up to a matching "end" (bNested) or the end of the text.
    bool Block(size_t& iPos, bool bNested, std::vector<Step>& Out) {
        while (iPos < Lines.size()) {
            const Line& L = Lines[iPos++];
            const std::string& sVerb = L.Words[0];
            if (sVerb == "end") {
                if (bNested)
                    return true;
                return Fail(L, "'end' without 'repeat'");
            }
            if (sVerb == "repeat") {
                long long iCount;
                if (L.Words.size() != 2 || !ParseInt(L.Words[1], iCount) || iCount < 0)
                    return Fail(L, "repeat N");
                std::vector<Step> Body;
                if (!Block(iPos, true, Body))
                    return false;
                for (long long i = 0; i < iCount; ++i) {
                    if (Out.size() + Body.size() > MAX_STEPS)
                        return Fail(L, "too many steps");
                    Out.insert(Out.end(), Body.begin(), Body.end());
                }
                continue;
            }
            if (!Simple(L, Out))
                return false;
        }
        if (bNested)
            return Fail(Lines.back(), "'repeat' without 'end'");
        return true;
    }

    std::string sError;

  private:
    bool Fail(const Line& L, const std::string& sWhy) {
        sError = "line " + std::to_string(L.iNumber) + ": " + sWhy;
        return false;
    }

    bool Fields_(const Line& L, size_t iFirst, Fields& f, const char* pszFlagKey) {
        for (size_t i = iFirst; i < L.Words.size(); ++i) {
            const std::string& w = L.Words[i];
            size_t iEq = w.find('=');
            std::string sKey = w.substr(0, iEq), sValue = iEq == std::string::npos ? "" : w.substr(iEq + 1);
            std::vector<int>* pList = sKey == "num" ? &f.Numbers : (sKey == pszFlagKey ? &f.Flags : nullptr);
            if (!pList || !ParseList(sValue, *pList))
                return Fail(L, "unexpected '" + w + "'");
        }
        return true;
    }

    bool Message(const Line& L, const Bytes& m, const std::string& sWhy, std::vector<Step>& Out) {
        if (m.empty())
            return Fail(L, sWhy);
        Out.push_back({StepKind::Send, m, 0, ""});
        return true;
    }

    bool Simple(const Line& L, std::vector<Step>& Out) {
        const std::string& sVerb = L.Words[0];
        std::string sWhy;
        long long iArg = 0;
        const bool bHasArg = L.Words.size() > 1 && ParseInt(L.Words[1], iArg);
        Fields f;
        if (sVerb == "ext") {
            if (L.Words.size() != 2 || (L.Words[1] != "on" && L.Words[1] != "off"))
                return Fail(L, "ext on|off");
            bExtensions = L.Words[1] == "on";
            return true;
        }
        if (sVerb == "block" || sVerb == "group" || sVerb == "output") {
            if (!bHasArg)
                return Fail(L, sVerb + " needs its message number");
            if (!Fields_(L, 2, f, sVerb == "output" ? "on" : "bits"))
                return false;
            const int n = static_cast<int>(iArg);
            Bytes m = sVerb == "block"   ? BlockMessage(n, f, bExtensions, sWhy)
                      : sVerb == "group" ? GroupMessage(n, f, sWhy)
                                         : OutputMessage(n, f, sWhy);
            return Message(L, m, sWhy, Out);
        }
        if (sVerb == "short")
            return Fields_(L, 1, f, "bits") && Message(L, ShortMessage(f, bExtensions, sWhy), sWhy, Out);
        if (sVerb == "text") {
            if (!bHasArg || L.Words.size() != 3 || L.Words[2][0] != '"')
                return Fail(L, "text N \"TEXT\"");
            return Message(L, TextMessage(static_cast<int>(iArg), L.Words[2].substr(1), sWhy), sWhy, Out);
        }
        if (sVerb == "marker" || sVerb == "tally") {
            if (L.Words.size() != 1)
                return Fail(L, sVerb + " takes nothing");
            return Message(L, sVerb == "marker" ? MarkerMessage() : TallyTrigger(), sWhy, Out);
        }
        if (sVerb == "raw") {
            Bytes m;
            for (size_t i = 1; i < L.Words.size(); ++i) {
                char* pEnd = nullptr;
                long iByte = std::strtol(L.Words[i].c_str(), &pEnd, 16);
                if (*pEnd || iByte < 0 || iByte > 255 || L.Words[i].size() > 2)
                    return Fail(L, "raw takes hex bytes, not '" + L.Words[i] + "'");
                m.push_back(static_cast<std::uint8_t>(iByte));
            }
            return Message(L, m, "raw needs bytes", Out);
        }
        if (sVerb == "wait" || sVerb == "at") {
            if (!bHasArg || L.Words.size() != 2 || iArg < 0)
                return Fail(L, sVerb + " MS");
            Out.push_back({sVerb == "wait" ? StepKind::Wait : StepKind::At, {}, iArg, ""});
            return true;
        }
        if (sVerb == "say") {
            std::string sNote;
            for (size_t i = 1; i < L.Words.size(); ++i)
                sNote += (i > 1 ? " " : "") + (L.Words[i][0] == '"' ? L.Words[i].substr(1) : L.Words[i]);
            Out.push_back({StepKind::Say, {}, 0, sNote});
            return true;
        }
        return Fail(L, "unknown step '" + sVerb + "'");
    }

    std::vector<Line> Lines;
    bool bExtensions;
};

} // namespace

bool ParseScenario(const std::string& sText, bool bExtensions, std::vector<Step>& Steps,
                   std::string& sError) {
    std::vector<Line> Lines;
    std::stringstream In(sText);
    std::string sLine;
    for (int iNumber = 1; std::getline(In, sLine); ++iNumber) {
        auto Words = SplitWords(sLine);
        if (!Words.empty())
            Lines.push_back({iNumber, std::move(Words)});
    }
    Parser P(std::move(Lines), bExtensions);
    size_t iPos = 0;
    Steps.clear();
    if (!P.Block(iPos, false, Steps)) {
        sError = P.sError;
        return false;
    }
    return true;
}

} // namespace devsim
