// What the driver says when its settings do not match the switcher's: the other set of block and
// short messages, the port's line errors, and bytes that do not frame.
#include "stream_generator.h"

#include "protocol/commissioning_texts.h"

#include <cstdio>

namespace {

constexpr int LINE_BYTES_PER_SECOND = 3840; // 38400 bit/s

int CountLogLines(const std::string& sPrefix) {
    int n = 0;
    for (const std::string& s : memhost::LogLines())
        n += s.rfind(sPrefix, 0) == 0;
    return n;
}

class CommissioningTest : public ProtocolTest {
  protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        memhost::SetRedundancyState(0); // the ticks' polls find nothing to say
    }

    // Valid messages of every kind in the long or short set, one notification each, until the
    // line appears or nMessages are sent. The block and short messages sent until then.
    static int SendMessages(StreamGenerator& gen, const char* pszLine, int nMessages) {
        const int nBefore = CountDebugLines(pszLine);
        int nJudged = 0;
        for (int i = 0; i < nMessages && CountDebugLines(pszLine) == nBefore; ++i) {
            const Bytes m = gen.ValidMessage();
            nJudged += m[0] == 0xA1 || (m[0] >= 0x81 && m[0] <= 0x84);
            Deliver(m);
            Settle();
        }
        return nJudged;
    }
};

TEST_F(CommissioningTest, TheOtherSetIsNamedWithinAFewDozenMessagesOnceAnEpisode) {
    for (const bool bSetting : {false, true}) {
        ProtocolTest::SetUp();
        bExtensions = bSetting;
        const char* pszLine = bSetting ? SENDS_PLAIN_TEXT : SENDS_EXTENDED_TEXT;
        StreamGenerator Other(bSetting ? 7 : 8, !bSetting), Same(9, bSetting);
        const int nJudged = SendMessages(Other, pszLine, 400);
        EXPECT_EQ(CountDebugLines(pszLine), 1) << pszLine;
        EXPECT_EQ(CountLogLines(pszLine), 1) << pszLine;
        EXPECT_LE(nJudged, 36) << pszLine;
        std::printf("\"%s\" after %d block and short messages\n", pszLine, nJudged);
        // A steady fault speaks once; the switcher set right ends the episode, and a new one
        // speaks again.
        SendMessages(Other, pszLine, 200);
        SendMessages(Same, pszLine, 200);
        EXPECT_EQ(CountDebugLines(pszLine), 1) << pszLine;
        SendMessages(Other, pszLine, 400);
        EXPECT_EQ(CountDebugLines(pszLine), 2) << pszLine;
        EXPECT_EQ(CountDebugLines(bSetting ? SENDS_EXTENDED_TEXT : SENDS_PLAIN_TEXT), 0);
    }
}

TEST_F(CommissioningTest, PortErrorsAreSaidWithTheirCountsAtMostOnceAMinute) {
    const auto Line = [](int iFraming, int iParity, int iOverrun) {
        char sz[256];
        std::snprintf(sz, sizeof sz, LINE_ERRORS_FORMAT, iFraming, iParity, iOverrun, "38400,8,1,N");
        return std::string(sz);
    };
    // Each poll of the port's status (one a chunk read) reports the error word.
    memhost::SetPortErrors(memhost::PORT_ERROR_FRAMING);
    LineSecond(Repeat(0xD1, 16 * 3)); // three chunks
    EXPECT_EQ(memhost::DebugLines(), std::vector<std::string>{Line(3, 0, 0)});
    EXPECT_EQ(memhost::LogLines(), std::vector<std::string>{Line(3, 0, 0)});
    memhost::ClearDiagnostics();
    memhost::SetPortErrors(memhost::PORT_ERROR_PARITY | memhost::PORT_ERROR_OVERRUN |
                           memhost::PORT_ERROR_RECEIVE_OVERRUN);
    for (int iSecond = 1; iSecond < 60; ++iSecond)
        LineSecond(Repeat(0xD1, 16));
    EXPECT_EQ(DebugLineCount(), 0);
    LineSecond(Repeat(0xD1, 16)); // a minute after the first line: every error since
    EXPECT_EQ(memhost::DebugLines(), std::vector<std::string>{Line(0, 60, 120)});
    memhost::SetPortErrors(0);
    for (int iSecond = 0; iSecond < 70; ++iSecond)
        LineSecond(Repeat(0xD1, 16));
    EXPECT_EQ(DebugLineCount(), 1);
}

TEST_F(CommissioningTest, RandomBytesAtTheLineRateAreSaidNotToFrameOnceAnEpisode) {
    StreamGenerator Gen(11, false);
    const auto Random = [&Gen] {
        Bytes b(LINE_BYTES_PER_SECOND);
        for (auto& x : b)
            x = Gen.AnyByte();
        return b;
    };
    for (int iSecond = 1; iSecond <= 9; ++iSecond)
        LineSecond(Random());
    EXPECT_EQ(CountDebugLines(FEW_MESSAGES_TEXT), 0); // not ten seconds yet
    for (int iSecond = 10; iSecond <= 30; ++iSecond)
        LineSecond(Random());
    EXPECT_EQ(CountDebugLines(FEW_MESSAGES_TEXT), 1);
    EXPECT_EQ(CountLogLines(FEW_MESSAGES_TEXT), 1);
    // Ten seconds of a good line end the episode; the next fault speaks again.
    for (int iSecond = 0; iSecond < 10; ++iSecond)
        LineSecond(Gen.Stream(150, true));
    for (int iSecond = 0; iSecond < 10; ++iSecond)
        LineSecond(Random());
    EXPECT_EQ(CountDebugLines(FEW_MESSAGES_TEXT), 2);
}

} // namespace
