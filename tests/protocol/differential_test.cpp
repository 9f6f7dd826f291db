// Random streams against the same stream published as it is decoded. Whatever the chunking, the
// idle notifications, the infodriver's cost and the bytes that arrive while it publishes, the
// store ends the same; and while no notification holds more than one message, so do the writes.
// Read with the right settings, none of them makes the driver doubt its settings, whatever their
// data.
#include "stream_generator.h"

#include "protocol/commissioning_texts.h"
#include "tests/support/random_stream.h"

#include <algorithm>

namespace {

class DifferentialTest : public ProtocolTest {
  protected:
    void Fresh(bool bLong, bool bLinkKnown) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
        bCommsOK = bLinkKnown;
    }

    // One byte per notification, each published before the next: every message is published
    // before the next one is framed, and nothing waits to be coalesced.
    static void ByteByByte(const Bytes& stream) {
        for (unsigned char b : stream) {
            Deliver({b});
            Settle();
        }
    }

    // The stream in pieces of random sizes, each followed by a few notifications that find the
    // queue empty. Sometimes a piece arrives while a publish step is under way, and an exchange
    // costs up to 39 ms of the clock, so that steps stop at their budget too.
    static void Chunked(StreamGenerator& gen, const Bytes& stream) {
        memhost::SetExchangeCostMs(static_cast<unsigned long>(gen.Below(4) * gen.Below(14)));
        for (std::size_t p = 0; p < stream.size();) {
            std::size_t n = static_cast<std::size_t>(1 + gen.Below(gen.Below(4) == 0 ? 400 : 40));
            n = std::min(n, stream.size() - p);
            const Bytes piece(stream.begin() + static_cast<std::ptrdiff_t>(p),
                              stream.begin() + static_cast<std::ptrdiff_t>(p + n));
            p += n;
            if (gen.Below(3) == 0) {
                memhost::ArriveAfterReads(memhost::ReadCount() + 1 + gen.Below(20), piece);
            } else {
                memhost::ArriveNow(); // what was sent earlier is on the line first
                Deliver(piece);
            }
            for (int i = gen.Below(4); i > 0; --i)
                Notify();
        }
        memhost::ArriveNow();
        Notify();
        Settle();
    }

    // Each message in up to three pieces, a notification for each: no notification completes
    // more than one message, and each is published before the next is complete.
    static void MessageByMessage(StreamGenerator& gen, const std::vector<Bytes>& messages) {
        for (const Bytes& m : messages) {
            std::size_t p = 0;
            for (int iPieces = 1 + gen.Below(3); p < m.size(); --iPieces) {
                const std::size_t n =
                    iPieces <= 1 ? m.size() - p : std::min<std::size_t>(1 + gen.Below(12), m.size() - p);
                Deliver(Bytes(m.begin() + static_cast<std::ptrdiff_t>(p),
                              m.begin() + static_cast<std::ptrdiff_t>(p + n)));
                p += n;
            }
        }
    }

    static void ExpectNoCommissioningLines(std::uint32_t uSeed) {
        for (const std::string& sLine : memhost::LogLines())
            for (const char* pszPrefix : COMMISSIONING_PREFIXES)
                ASSERT_NE(sLine.rfind(pszPrefix, 0), 0u) << "seed " << uSeed;
    }

    // The soak's stream at its line rate for iSeconds, a tick each second.
    void RunLineRate(std::uint32_t uSeed, const StreamMix& Mix, int iRepeatPercent, int iBytesPerSecond,
                     int iSeconds) {
        Fresh(false, true);
        RandomStream Source(uSeed, Mix, iRepeatPercent);
        for (int iSecond = 0; iSecond < iSeconds; ++iSecond) {
            Bytes second;
            while (second.size() < static_cast<std::size_t>(iBytesPerSecond)) {
                const StreamBytes Item = Source.Next();
                second.insert(second.end(), Item.begin(), Item.end());
            }
            LineSecond(second);
        }
        ExpectNoCommissioningLines(uSeed);
    }

    // A stream of the seed, read with its own setting: odd seeds the extended set. With bDoubled,
    // the block and short messages hold that byte in iPercent of their data bytes.
    void Run(std::uint32_t uSeed, bool bValidOnly, unsigned char bDoubled = 0, int iPercent = 0) {
        const bool bLong = uSeed % 2 == 1;
        const bool bLinkKnown = uSeed % 3 != 0;
        StreamGenerator gen(uSeed, bLong);
        gen.DoubleInData(bDoubled, iPercent);
        std::vector<Bytes> messages;
        Bytes stream;
        for (int i = (iPercent > 0 ? 120 : 40) + gen.Below(160); i > 0; --i) {
            messages.push_back(bValidOnly ? gen.ValidMessage() : gen.AnyItem());
            stream.insert(stream.end(), messages.back().begin(), messages.back().end());
        }

        Fresh(bLong, bLinkKnown);
        ByteByByte(stream);
        ExpectNoCommissioningLines(uSeed);
        const Outcome reference = Capture();
        const std::vector<SlotWrite> referenceWrites = memhost::Writes();

        Fresh(bLong, bLinkKnown);
        Chunked(gen, stream);
        ASSERT_EQ(Difference(reference, Capture()), "") << "seed " << uSeed;
        EXPECT_LE(memhost::Writes().size(), referenceWrites.size()) << "seed " << uSeed;
        EXPECT_FALSE(HasDebugLine("Buffer overflow - bytes lost")) << "seed " << uSeed;
        EXPECT_EQ(memhost::QueuedBytes(), 0u);
        ExpectNoCommissioningLines(uSeed);

        if (bValidOnly) {
            Fresh(bLong, bLinkKnown);
            MessageByMessage(gen, messages);
            ASSERT_EQ(memhost::Writes(), referenceWrites) << "seed " << uSeed;
            ExpectNoCommissioningLines(uSeed);
        }
    }
};

} // namespace

TEST_F(DifferentialTest, MixedStreamsEndWithTheStoreOfPublishingAtOnceWhateverTheChunking) {
    for (std::uint32_t uSeed = 1; uSeed <= 150; ++uSeed)
        Run(uSeed, false);
    // The soaks' two streams: the everyday mix with its garbage at 38400 bit/s, and every kind of
    // message in equal numbers at 115200 bit/s.
    RunLineRate(20240611, LINE_RATE_MIX, LINE_RATE_REPEAT_PERCENT, 3840, 60);
    RunLineRate(20240612, {1, 1, 1, 1, 1, 1, 1, 0}, LINE_RATE_REPEAT_PERCENT, 11520, 20);
}

TEST_F(DifferentialTest, ValidStreamsAtMostOneMessagePerNotificationWriteAsPublishingAtOnce) {
    for (std::uint32_t uSeed = 1001; uSeed <= 1150; ++uSeed)
        Run(uSeed, true);
    // Data that doubles a known command byte anywhere in the block and short messages, in all of
    // their data bytes or in half of them, read with either setting.
    std::uint32_t uSeed = 2001;
    for (const CommandEntry& Row : CommandTable)
        for (int c = Row.bFirst; c <= Row.bLast; ++c)
            for (const int iPercent : {100, 100, 50, 50})
                Run(uSeed++, true, static_cast<unsigned char>(c), iPercent);
}
