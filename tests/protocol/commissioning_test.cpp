// What the driver says when its settings do not match the switcher's: the other set of block and
// short messages, the port's line errors, and bytes that do not frame.
#include "stream_generator.h"

#include "protocol/commissioning_texts.h"

#include <algorithm>
#include <cstdio>

namespace {

using CommissioningTest = ProtocolTest;

// The line in the debug list and the log.
int Said(const char* pszLine) {
    const auto& Log = memhost::LogLines();
    const int nLogged = static_cast<int>(std::count(Log.begin(), Log.end(), pszLine));
    return CountDebugLines(pszLine) == nLogged ? nLogged : -1;
}

// What NextBytes makes, one notification each, until the line is said once more or nSends are
// delivered. The block and short messages they began with.
template <typename Source>
int SendUntilSaid(Source NextBytes, const char* pszLine, int nSends) {
    int nJudged = 0;
    for (const int nBefore = Said(pszLine); nSends-- > 0 && Said(pszLine) == nBefore;) {
        const Bytes m = NextBytes();
        nJudged += m[0] == 0xA1 || (m[0] >= 0x81 && m[0] <= 0x84);
        Deliver(m);
        Settle();
    }
    return nJudged;
}

// Valid messages of every kind.
int SendUntilSaid(StreamGenerator& gen, const char* pszLine, int nMessages) {
    return SendUntilSaid([&gen] { return gen.ValidMessage(); }, pszLine, nMessages);
}

TEST_F(CommissioningTest, TheOtherSetIsNamedWithinAFewDozenMessagesOnceAnEpisode) {
    for (const bool bSetting : {false, true}) {
        ProtocolTest::SetUp();
        bExtensions = bSetting;
        const char* pszLine = bSetting ? SENDS_PLAIN_TEXT : SENDS_EXTENDED_TEXT;
        StreamGenerator Other(bSetting ? 7 : 8, !bSetting), Same(9, bSetting);
        EXPECT_LE(SendUntilSaid(Other, pszLine, 400), 36) << pszLine;
        EXPECT_EQ(Said(pszLine), 1) << pszLine;
        // A steady fault speaks once; the switcher set right ends the episode, and a new one
        // speaks again.
        SendUntilSaid(Other, pszLine, 200);
        SendUntilSaid(Same, pszLine, 200);
        EXPECT_EQ(Said(pszLine), 1) << pszLine;
        SendUntilSaid(Other, pszLine, 400);
        EXPECT_EQ(Said(pszLine), 2) << pszLine;
        EXPECT_EQ(Said(bSetting ? SENDS_EXTENDED_TEXT : SENDS_PLAIN_TEXT), 0);
    }
}

TEST_F(CommissioningTest, TheExtendedSetIsNamedWhateverHighByteItsExtensionDoubles) {
    // A mix: each step a block message 1, or a short message and the programme output, in the
    // extended set, then a trigger. Read with Extensions=0, the doubled byte begins where the plain
    // form ends. (A step of a short message and a trigger alone is as long as a group message: with
    // a group's command byte doubled there, the same bytes are a good line of the plain set, and
    // nothing can name it.)
    for (int c = 0x80; c <= 0xFF; ++c) {
        for (const bool bBlock : {true, false}) {
            ProtocolTest::SetUp();
            int iStep = 0;
            const auto Step = [&] {
                const int iFlags = 1 + iStep++ % 2;
                if (bBlock)
                    return Join(
                        {MsgAt(0x81, {{3, iFlags}, {18, 3}, {20, 4}, {25, c}, {26, c}}, true), Msg(0xD2)});
                return Join({MsgAt(0xA1, {{2, 1}, {4, iFlags}, {5, c}, {6, c}}, true),
                             MsgAt(0xB1, {{2, 93}, {5, 1}}), Msg(0xD2)});
            };
            EXPECT_LE(SendUntilSaid(Step, SENDS_EXTENDED_TEXT, 80), 36) << std::hex << c << bBlock;
            EXPECT_EQ(Said(SENDS_EXTENDED_TEXT), 1) << std::hex << c << bBlock;
        }
    }
}

TEST_F(CommissioningTest, PortErrorsAreSaidWithTheirCountsAtMostOnceAMinute) {
    const auto Line = [](int iFraming, int iParity, int iOverrun) {
        char sz[256];
        std::snprintf(sz, sizeof sz, LINE_ERRORS_FORMAT, iFraming, iParity, iOverrun, "38400,8,1,N");
        return std::string(sz);
    };
    memhost::SetRedundancyState(0); // the ticks' polls say nothing
    // Every status poll, one for each read, reports the error word: three reads.
    memhost::SetPortErrors(memhost::PORT_ERROR_FRAMING);
    for (int i = 0; i < 3; ++i)
        Deliver(Repeat(0xD1, 16));
    LineSecond({});
    EXPECT_EQ(Said(Line(3, 0, 0).c_str()), 1);
    memhost::SetPortErrors(memhost::PORT_ERROR_PARITY | memhost::PORT_ERROR_OVERRUN |
                           memhost::PORT_ERROR_RECEIVE_OVERRUN);
    for (int iSecond = 1; iSecond <= 70; ++iSecond) {
        LineSecond(Repeat(0xD1, 16));
        if (iSecond == 60) { // a minute after the first line: every error since
            EXPECT_EQ(Said(Line(0, 60, 120).c_str()), 1);
            memhost::SetPortErrors(0);
        }
    }
    EXPECT_EQ(memhost::LogLines().size(), 2u); // no more than one a minute, none without errors
}

TEST_F(CommissioningTest, RandomBytesAtTheLineRateAreSaidNotToFrameOnceAnEpisode) {
    StreamGenerator Gen(11, false);
    const auto RandomSeconds = [&Gen](int nSeconds) {
        for (Bytes b(3840); nSeconds-- > 0; LineSecond(b))
            std::generate(b.begin(), b.end(), [&Gen] { return Gen.AnyByte(); });
    };
    RandomSeconds(9);
    EXPECT_EQ(Said(FEW_MESSAGES_TEXT), 0);
    RandomSeconds(20);
    EXPECT_EQ(Said(FEW_MESSAGES_TEXT), 1);
    // Ten seconds of a good line end the episode; the next fault speaks again.
    for (int iSecond = 0; iSecond < 10; ++iSecond)
        LineSecond(Gen.Stream(150, true));
    RandomSeconds(10);
    EXPECT_EQ(Said(FEW_MESSAGES_TEXT), 2);
}

} // namespace
