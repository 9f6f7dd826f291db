#pragma once
// Seeded device streams for the runs of the real driver: well-formed messages of every kind with
// values from small sets, so that repeats, re-entries and lit tallies are common, mixed with
// garbage that never forms a known command pair (bytes below 0x80, high bytes not doubled,
// unrecognised pairs), so that every message behind it is still framed.
#include "protocol/commands.h"
#include "protocol/slotmap.h"

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

using StreamBytes = std::vector<unsigned char>;

enum StreamItem : int {
    ITEM_BLOCK,
    ITEM_GROUP,
    ITEM_SHORT,
    ITEM_OUTPUT,
    ITEM_TEXT,
    ITEM_MARKER,
    ITEM_TRIGGER,
    ITEM_GARBAGE,
    ITEM_KINDS
};

// Relative weights of the item kinds, indexed by StreamItem.
using StreamMix = std::array<int, ITEM_KINDS>;

// A switcher's everyday traffic: mostly names and short messages, with fewer of the messages whose
// many values each cost a slot read. About 480 slot reads a second at the line rate, a third of
// what the driver manages under Wine (a block message alone costs 100).
//                                   block group short output text marker trigger garbage
constexpr StreamMix LINE_RATE_MIX = {5, 5, 20, 40, 800, 60, 60, 10};
constexpr int LINE_RATE_REPEAT_PERCENT = 75;

class RandomStream {
  public:
    RandomStream(std::uint32_t uSeed, const StreamMix& ItemWeights, int iRepeatPercent)
        : rng(uSeed), Weights(ItemWeights), iRepeat(iRepeatPercent) {}

    // One item of a kind drawn by the weights; *piKind gets the kind.
    StreamBytes Next(int* piKind = nullptr) {
        int iTotal = 0;
        for (int w : Weights)
            iTotal += w;
        if (iTotal <= 0)
            return Garbage();
        int iPick = Below(iTotal);
        int iKind = 0;
        while (iPick >= Weights[iKind])
            iPick -= Weights[iKind++];
        if (piKind)
            *piKind = iKind;
        ++Counts[iKind];
        return Item(iKind);
    }

    StreamBytes Item(int iKind) {
        switch (iKind) {
            case ITEM_BLOCK:
                return Addressed(static_cast<unsigned char>(0x81 + Below(2)), BlockLayout);
            case ITEM_GROUP:
                return Addressed(static_cast<unsigned char>(0x91 + Below(2)), GroupLayout);
            case ITEM_SHORT:
                return Addressed(0xA1, ShortLayout);
            case ITEM_OUTPUT:
                // Mostly the programme output, whose flagged numbers are the tally roots.
                return Addressed(static_cast<unsigned char>(Below(4) == 0 ? 0xB2 : 0xB1), OutputLayout);
            case ITEM_TEXT:
                return Text();
            case ITEM_MARKER:
                return {0xD1, 0xD1};
            case ITEM_TRIGGER:
                return {0xD2, 0xD2};
            default:
                return Garbage();
        }
    }

    // Garbage that leaves the framing of what follows intact.
    StreamBytes Garbage() {
        switch (Below(3)) {
            case 0: { // bytes below 0x80
                StreamBytes g(static_cast<std::size_t>(1 + Below(24)));
                for (auto& b : g)
                    b = LowByte();
                return g;
            }
            case 1: // a high byte not doubled
                return {static_cast<unsigned char>(0x80 | Below(0x80)), LowByte()};
            default: { // an unrecognised pair
                unsigned char c;
                do
                    c = static_cast<unsigned char>(0x80 | Below(0x80));
                while (KindOf(c) != MessageKind::Unrecognised);
                return {c, c, LowByte()};
            }
        }
    }

    // Items of each kind handed out by Next.
    const std::array<long long, ITEM_KINDS>& ItemCounts() const { return Counts; }

  private:
    int Below(int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); }
    unsigned char LowByte() { return static_cast<unsigned char>(Below(0x80)); }

    // Sources, re-entry numbers of both groups and all four blocks, and a few others.
    unsigned char NumberValue() {
        static constexpr unsigned char Values[] = {0,  1,  2,  3,  4,  5,   6,   7,  8,
                                                   89, 90, 93, 94, 99, 105, 117, 127};
        return Values[Below(sizeof Values)];
    }
    unsigned char FlagValue() {
        static constexpr unsigned char Values[] = {0x00, 0x01, 0x02, 0x03, 0x05,
                                                   0x0F, 0x10, 0x30, 0x81, 0xFF};
        return Values[Below(sizeof Values)];
    }

    // The last message to the same address again, or that message with one to three fields changed.
    template <std::size_t N>
    StreamBytes Addressed(unsigned char bCommand, const std::array<FieldRun, N>& Layout) {
        auto it = Last.find(bCommand);
        if (it != Last.end() && Below(100) < iRepeat)
            return it->second;
        const int iLength = MessageLength(bCommand, false);
        StreamBytes m = it != Last.end() ? it->second : StreamBytes(static_cast<std::size_t>(iLength), 0);
        m[0] = m[1] = bCommand;
        for (int iChanges = 1 + Below(3); iChanges > 0;) {
            const FieldRun& Run = Layout[static_cast<std::size_t>(Below(static_cast<int>(N)))];
            const int iOffset = Run.iFirstOffset + Run.iOffsetStep * Below(Run.iBytes);
            if (iOffset >= iLength)
                continue; // a row of the long form
            m[static_cast<std::size_t>(iOffset)] =
                Run.eKind == FieldKind::Number ? NumberValue() : FlagValue();
            --iChanges;
        }
        Last[bCommand] = m;
        return m;
    }

    StreamBytes Text() {
        static constexpr const char* Names[] = {"CAM 1",    "CAM 2", "CAM 3", "CAM 4",         "VT 1",
                                                "CAPTIONS", "DVE",   "ME 1",  "STUDIO B FLOOR"};
        const int iIndex = Below(12);
        const int iKey = 0x100 + iIndex;
        auto it = Last.find(iKey);
        if (it != Last.end() && Below(100) < iRepeat)
            return it->second;
        StreamBytes m(static_cast<std::size_t>(MessageLength(0xC1, false)), 0);
        m[0] = m[1] = 0xC1;
        m[TEXT_INDEX_OFFSET] = static_cast<unsigned char>(iIndex);
        const char* pszName = Names[Below(sizeof Names / sizeof Names[0])];
        for (int i = 0; pszName[i] != 0 && i < TEXT_MAX_CHARS; ++i)
            m[static_cast<std::size_t>(TEXT_FIRST_OFFSET + i)] = static_cast<unsigned char>(pszName[i]);
        Last[iKey] = m;
        return m;
    }

    std::mt19937 rng;
    StreamMix Weights;
    int iRepeat;
    std::map<int, StreamBytes> Last; // by command byte; texts by 0x100 + index
    std::array<long long, ITEM_KINDS> Counts{};
};
