#pragma once
// What the stand-in process has recorded, read from its event lines: the slots it holds, the
// writes it received, and the moments things happened.
#include "tools/standin/process.h"

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// Slot number -> text as the stand-in prints it (escaped).
using SlotTexts = std::map<int, std::string>;

// The index of the first line from iFrom on that starts with sPrefix, or -1.
inline long FindLine(const std::vector<std::string>& Lines, const std::string& sPrefix,
                     std::size_t iFrom = 0) {
    for (std::size_t i = iFrom; i < Lines.size(); ++i)
        if (Lines[i].rfind(sPrefix, 0) == 0)
            return static_cast<long>(i);
    return -1;
}

// The prefix of the stand-in's line for a write of iSlot (any client, any text follows).
inline std::string WritePrefix(int iSlot) {
    return "write " + std::to_string(iSlot) + " 2726 ";
}

// The text of a "write <slot> 2726 <client> <text>" line.
inline std::string WrittenText(const std::string& sLine) {
    std::size_t iClient = sLine.find(' ', sLine.find(" 2726 ") + 1);
    std::size_t iText = sLine.find(' ', iClient + 1);
    return iText == std::string::npos ? "" : sLine.substr(iText + 1);
}

// Line index of the first write of iSlot with sText from iFrom on, or -1.
inline long FindWrite(const std::vector<std::string>& Lines, int iSlot, const std::string& sText,
                      std::size_t iFrom = 0) {
    const std::string sPrefix = WritePrefix(iSlot);
    for (long i = FindLine(Lines, sPrefix, iFrom); i >= 0; i = FindLine(Lines, sPrefix, i + 1))
        if (WrittenText(Lines[i]) == sText)
            return i;
    return -1;
}

// The texts written to iSlot from line iFrom on.
inline std::vector<std::string> WritesOf(StandinProcess& Standin, int iSlot, std::size_t iFrom) {
    std::vector<std::string> Texts;
    const std::vector<std::string> Lines = Standin.Lines();
    const std::string sPrefix = WritePrefix(iSlot);
    for (std::size_t i = iFrom; i < Lines.size(); ++i)
        if (Lines[i].rfind(sPrefix, 0) == 0)
            Texts.push_back(WrittenText(Lines[i]));
    return Texts;
}

// Waits until a write of iSlot with sText arrives after line iFrom; its line index, or -1.
inline long WaitForWrite(StandinProcess& Standin, int iSlot, const std::string& sText, DWORD dwMs,
                         std::size_t iFrom = 0) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const long i = FindWrite(Standin.Lines(), iSlot, sText, iFrom);
        if (i >= 0 || GetTickCount() - dwStart >= dwMs)
            return i;
        PumpFor(20);
    }
}

// Waits until the stand-in has printed nothing for dwQuietMs (the driver has published what it
// had), at most dwMs. True when it went quiet. The ticks' redundancy polls do not count.
inline bool WaitForQuiet(StandinProcess& Standin, DWORD dwQuietMs, DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    std::size_t nBusy = 0;
    DWORD dwSince = GetTickCount();
    while (GetTickCount() - dwStart < dwMs) {
        PumpFor(50);
        const std::vector<std::string> Lines = Standin.Lines();
        std::size_t nNow = 0;
        for (const std::string& sLine : Lines)
            if (sLine.rfind("redundancy ", 0) != 0)
                ++nNow;
        if (nNow != nBusy) {
            nBusy = nNow;
            dwSince = GetTickCount();
        } else if (GetTickCount() - dwSince >= dwQuietMs) {
            return true;
        }
    }
    return false;
}

// The stand-in's non-empty slots from iFirst to iLast ("dump").
inline SlotTexts PublishedSlots(StandinProcess& Standin, int iFirst, int iLast) {
    const std::size_t iFrom = Standin.LineCount();
    Standin.Send("dump " + std::to_string(iFirst) + " " + std::to_string(iLast));
    Standin.WaitFor("dump-end ", 10000, iFrom);
    SlotTexts Slots;
    const std::vector<std::string> Lines = Standin.Lines();
    for (std::size_t i = iFrom; i < Lines.size() && Lines[i].rfind("dump-end ", 0) != 0; ++i) {
        if (Lines[i].rfind("slot ", 0) != 0)
            continue;
        const std::size_t iText = Lines[i].find(' ', 5);
        Slots[std::atoi(Lines[i].c_str() + 5)] = iText == std::string::npos ? "" : Lines[i].substr(iText + 1);
    }
    return Slots;
}
