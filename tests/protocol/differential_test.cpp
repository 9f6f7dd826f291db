// Random streams, whole or in random chunks: the same slot store at the end, and for streams of
// valid messages the same writes in the same order.
#include "stream_generator.h"

#include <algorithm>
#include <array>

namespace {

struct Outcome {
    std::vector<std::string> slots; // slots 1 to 4095 as the store holds them
    std::vector<SlotWrite> writes;
    std::array<unsigned char, SLOT_TABLE_SIZE> table;
    std::array<unsigned char, TALLY_COUNT + 1> shown;
};

Outcome Capture() {
    Outcome o;
    for (int s = 1; s <= 4095; ++s)
        o.slots.push_back(memhost::SlotText(s));
    o.writes = memhost::Writes();
    o.table = SlotByteTable;
    o.shown = TallyShown;
    return o;
}

class DifferentialTest : public ProtocolTest {
  protected:
    void Fresh(bool bLong, bool bLinkKnown) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
        bCommsOK = bLinkKnown;
    }

    // Each delivery is followed by a few notifications that find the queue empty.
    static void DeliverThenIdle(const Bytes& bytes, int nIdle) {
        Deliver(bytes);
        for (int n = 0; n < nIdle; ++n)
            Notify();
    }

    void Run(std::uint32_t uSeed, bool bValidOnly) {
        bool bLong = uSeed % 2 == 1;
        bool bLinkKnown = uSeed % 3 != 0;
        StreamGenerator gen(uSeed, bLong);
        Bytes stream = gen.Stream(40 + gen.Below(160), bValidOnly);

        Fresh(bLong, bLinkKnown);
        DeliverThenIdle(stream, 3);
        Settle();
        Outcome whole = Capture();

        Fresh(bLong, bLinkKnown);
        std::size_t p = 0;
        while (p < stream.size()) {
            std::size_t n = static_cast<std::size_t>(1 + gen.Below(gen.Below(4) == 0 ? 400 : 40));
            n = std::min(n, stream.size() - p);
            DeliverThenIdle(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(p),
                                  stream.begin() + static_cast<std::ptrdiff_t>(p + n)),
                            gen.Below(4));
            p += n;
        }
        Settle();
        Outcome chunked = Capture();

        ASSERT_EQ(whole.slots, chunked.slots) << "seed " << uSeed;
        ASSERT_EQ(whole.table, chunked.table) << "seed " << uSeed;
        ASSERT_EQ(whole.shown, chunked.shown) << "seed " << uSeed;
        if (bValidOnly) {
            ASSERT_EQ(whole.writes, chunked.writes) << "seed " << uSeed;
        }
        EXPECT_FALSE(HasDebugLine("Buffer overflow - bytes lost")) << "seed " << uSeed;
    }
};

} // namespace

TEST_F(DifferentialTest, MixedStreamsEndWithTheSameStoreWhateverTheChunking) {
    for (std::uint32_t uSeed = 1; uSeed <= 150; ++uSeed)
        Run(uSeed, false);
}

TEST_F(DifferentialTest, ValidStreamsWriteTheSameSequenceWhateverTheChunking) {
    for (std::uint32_t uSeed = 1001; uSeed <= 1150; ++uSeed)
        Run(uSeed, true);
}
