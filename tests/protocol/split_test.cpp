// A stream split anywhere ends as the stream delivered one byte at a time, each published before
// the next arrives.
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
    Outcome ByteByByte(const Bytes& stream) {
        for (unsigned char b : stream) {
            Deliver({b});
            Settle();
        }
        EXPECT_EQ(iWrtPtr, 0);
        return Capture();
    }
    void Fresh(bool bLong) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
    }
};

} // namespace

TEST_F(SplitTest, TwoPiecesAtEveryByteBoundaryEndAsOneByteAtATime) {
    for (bool bLong : {false, true}) {
        Fresh(bLong);
        const Bytes stream = SampleStream();
        const Outcome reference = ByteByByte(stream);
        ASSERT_GT(memhost::Writes().size(), 300u);
        for (std::size_t p = 0; p < stream.size(); ++p) {
            Fresh(bLong);
            Deliver(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(p)));
            Deliver(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(p), stream.end()));
            Settle();
            ASSERT_EQ(Difference(Capture(), reference), "") << "split at " << p << (bLong ? " long" : "");
            ASSERT_EQ(iWrtPtr, 0);
        }
    }
}
