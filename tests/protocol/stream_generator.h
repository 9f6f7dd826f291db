#pragma once
// Seeded random device streams for the split and differential tests.
#include "protocol_fixture.h"

#include <cstdint>
#include <random>

class StreamGenerator {
  public:
    StreamGenerator(std::uint32_t uSeed, bool bExtended) : rng(uSeed), bLong(bExtended) {}

    // From now on, iPercent of the data bytes of block and short messages hold bCommand.
    void DoubleInData(unsigned char bCommand, int iPercent) {
        bDoubled = bCommand;
        iDoubledPercent = iPercent;
    }

    int Below(int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); }
    unsigned char AnyByte() { return static_cast<unsigned char>(rng() & 0xFF); }
    unsigned char LowByte() { return static_cast<unsigned char>(rng() & 0x7F); }

    // A well-formed message of a random kind. Values are drawn from small sets so that repeats
    // (no write) and tally roots and re-entries are common.
    Bytes ValidMessage() {
        static const unsigned char Commands[] = {0x81, 0x82, 0x83, 0x84, 0x91, 0x92, 0xA1, 0xB1,
                                                 0xB2, 0xB3, 0xB4, 0xC1, 0xD1, 0xD2, 0xD2, 0xB1};
        unsigned char c = Commands[Below(sizeof Commands)];
        Bytes m = Msg(c, {}, bLong);
        if (c == 0xC1) {
            m[2] = static_cast<unsigned char>(Below(8));
            int nChars = Below(18);
            for (int i = 0; i < nChars; ++i)
                m[3 + i] = static_cast<unsigned char>(0x20 + Below(0x5F));
            m[20] = AnyByte();
            return m;
        }
        for (std::size_t o = 2; o < m.size(); ++o) {
            switch (Below(4)) {
                case 0:
                    m[o] = AnyByte();
                    break; // high bytes, doubled ones too, are plain data
                case 1:
                    m[o] = static_cast<unsigned char>(89 + Below(32));
                    break; // re-entries
                case 2:
                    m[o] = static_cast<unsigned char>(Below(3));
                    break;
                default:
                    m[o] = static_cast<unsigned char>(1 + Below(3));
                    break;
            }
            // Drawn only then: the streams of the seeds stay as they were.
            if (iDoubledPercent > 0 && (KindOf(c) == MessageKind::Block || KindOf(c) == MessageKind::Short) &&
                Below(100) < iDoubledPercent)
                m[o] = bDoubled;
        }
        return m;
    }

    // Anything the device or the line might produce.
    Bytes AnyItem() {
        switch (Below(12)) {
            case 0: { // garbage below 0x80
                Bytes g(static_cast<std::size_t>(1 + Below(12)));
                for (auto& b : g)
                    b = LowByte();
                return g;
            }
            case 1: // a high byte not doubled
                return {static_cast<unsigned char>(0x80 | AnyByte()), LowByte()};
            case 2: { // an unrecognised pair
                unsigned char c;
                do
                    c = static_cast<unsigned char>(0x80 | AnyByte());
                while (KindOf(c) != MessageKind::Unrecognised);
                return {c, c};
            }
            case 3: { // a text with a command pair inside
                Bytes m = TextMsg(Below(8), "PAIR IN TEXT");
                std::size_t k = static_cast<std::size_t>(2 + Below(18));
                m[k] = m[k + 1] = static_cast<unsigned char>(0x80 | AnyByte());
                return m;
            }
            case 4: { // a message cut short by the line
                Bytes m = ValidMessage();
                m.resize(static_cast<std::size_t>(2 + Below(static_cast<int>(m.size()) - 1)));
                return m;
            }
            default:
                return ValidMessage();
        }
    }

    Bytes Stream(int nItems, bool bValidOnly) {
        Bytes s;
        for (int i = 0; i < nItems; ++i) {
            Bytes item = bValidOnly ? ValidMessage() : AnyItem();
            s.insert(s.end(), item.begin(), item.end());
        }
        return s;
    }

  private:
    std::mt19937 rng;
    bool bLong;
    unsigned char bDoubled = 0;
    int iDoubledPercent = 0;
};
