// A stream split anywhere decodes exactly as the stream delivered whole.
#include "stream_generator.h"

namespace {

class SplitTest : public ProtocolTest {
  protected:
    Bytes SampleStream() {
        return Join({{0x05, 0x06},
                     MsgAt(0xB1, {{2, 93}, {4, 0xB1}, {5, 0x03}}),
                     MsgAt(0x81, {{5, 0x01}, {18, 14}, {19, 0x81}}, bExtensions),
                     {0x9A, 0x11},
                     MsgAt(0x92, {{2, 0xFF}, {3, 0x92}}),
                     TextMsg(3, "CAM 3"),
                     Msg(0xD1),
                     MsgAt(0xA1, {{2, 9}, {4, 0x7F}}, bExtensions),
                     {0x85, 0x85},
                     MsgAt(0xB4, {{7, 120}, {5, 0x08}}),
                     Msg(0xD2),
                     TextMsg(4, "VT\x01"),
                     MsgAt(0xB1, {{2, 0}, {5, 0x01}}),
                     Msg(0xD2)});
    }
    std::vector<SlotWrite> Whole(const Bytes& stream) {
        Deliver(stream);
        Settle();
        EXPECT_EQ(iWrtPtr, 0);
        return memhost::Writes();
    }
    void Fresh(bool bLong) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
    }
};

} // namespace

TEST_F(SplitTest, TwoPiecesAtEveryByteBoundaryDecodeAsOne) {
    for (bool bLong : {false, true}) {
        Fresh(bLong);
        Bytes stream = SampleStream();
        std::vector<SlotWrite> reference = Whole(stream);
        ASSERT_GT(reference.size(), 300u);
        for (std::size_t p = 1; p < stream.size(); ++p) {
            Fresh(bLong);
            Deliver(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(p)));
            Deliver(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(p), stream.end()));
            Settle();
            ASSERT_EQ(memhost::Writes(), reference) << "split at " << p << (bLong ? " long" : "");
            ASSERT_EQ(iWrtPtr, 0);
        }
    }
}

TEST_F(SplitTest, OneByteAtATimeDecodesAsOne) {
    for (bool bLong : {false, true}) {
        Fresh(bLong);
        Bytes stream = SampleStream();
        std::vector<SlotWrite> reference = Whole(stream);
        int iRxCount = iSerialRxCount;
        Fresh(bLong);
        for (unsigned char b : stream)
            Deliver({b});
        Settle();
        EXPECT_EQ(memhost::Writes(), reference);
        // Stray high bytes are counted by every pass that scans them; messages only once.
        EXPECT_GE(iSerialRxCount, iRxCount);
    }
}
