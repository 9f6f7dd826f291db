// Publishing behind decoding: what is written while the driver keeps up, and what changes when
// messages queue up behind a slow infodriver.
#include "stream_generator.h"

#include <fstream>
#include <sstream>

namespace {

using PublishTest = ProtocolTest;

// Output message 1 lighting tally 5, then the trigger.
Bytes TallyFive() {
    return Join({MsgAt(0xB1, {{2, 5}, {5, 1}}), Msg(0xD2)});
}

// A block message whose every field differs from the last one's.
Bytes ChangedBlock(int i) {
    return Msg(0x81, Repeat(i % 2 ? 0x55 : 0xAA, 23));
}

using NotificationWrites = std::vector<std::vector<SlotWrite>>;

// The writes the driver made before publishing was deferred, for the streams of
// OneMessagePerNotificationWritesAsTheDriverAlwaysHas: a "# extensions N" line for each stream,
// then a line for each notification with its writes, "slot=text", separated by tabs.
std::vector<NotificationWrites> KeptWrites() {
    std::ifstream In(DRAVIK_PROTOCOL_TEST_DATA "/one_message_per_notification.tsv");
    std::vector<NotificationWrites> streams;
    for (std::string sLine; std::getline(In, sLine);) {
        if (sLine.rfind("# ", 0) == 0) {
            streams.emplace_back();
            continue;
        }
        if (streams.empty())
            continue;
        std::vector<SlotWrite>& writes = streams.back().emplace_back();
        std::istringstream Fields(sLine);
        for (std::string sWrite; std::getline(Fields, sWrite, '\t');) {
            const std::size_t iEquals = sWrite.find('=');
            if (iEquals != std::string::npos)
                writes.push_back({std::stoi(sWrite.substr(0, iEquals)), sWrite.substr(iEquals + 1)});
        }
    }
    return streams;
}

} // namespace

TEST_F(PublishTest, OneMessagePerNotificationWritesAsTheDriverAlwaysHas) {
    const std::vector<NotificationWrites> kept = KeptWrites();
    ASSERT_EQ(kept.size(), 2u);
    for (bool bLong : {false, true}) {
        ProtocolTest::SetUp();
        bExtensions = bLong;
        bCommsOK = false;
        StreamGenerator gen(bLong ? 9003u : 9002u, bLong);
        NotificationWrites written;
        auto Notification = [&](const Bytes& message) {
            const std::size_t nBefore = memhost::Writes().size();
            Deliver(message);
            Settle();
            written.emplace_back(memhost::Writes().begin() + static_cast<std::ptrdiff_t>(nBefore),
                                 memhost::Writes().end());
        };
        Notification(Msg(0xD1));
        for (int i = 0; i < 60; ++i)
            Notification(gen.ValidMessage());
        ASSERT_EQ(written.size(), kept[bLong ? 1 : 0].size());
        for (std::size_t i = 0; i < written.size(); ++i)
            ASSERT_EQ(written[i], kept[bLong ? 1 : 0][i])
                << (bLong ? "long" : "short") << ", notification " << i;
    }
}

TEST_F(PublishTest, ATallyBehindBulkDataInOneNotificationIsWrittenFirst) {
    Deliver(Msg(0xD2)); // every tally published once, so only changes follow
    memhost::SetRecording(true);
    const std::size_t nBefore = memhost::Writes().size();
    Deliver(Join({ChangedBlock(0), TallyFive()}));
    const std::vector<SlotWrite>& writes = memhost::Writes();
    ASSERT_GT(writes.size(), nBefore + 100);
    EXPECT_EQ(writes[nBefore], (SlotWrite{5, "1"}));
    // Then the rest in the order the slots became pending: the block's first, the output's after.
    EXPECT_EQ(writes[nBefore + 1].iSlot, 201);
    EXPECT_EQ(writes.back().iSlot, 344);
    EXPECT_STREQ(PanelText(1010), "5");
}

TEST_F(PublishTest, ASlotChangedFiveTimesBeforeAStepIsReadOnceAndWrittenOnceWithTheNewest) {
    Bytes texts;
    for (const char* pszName : {"CAM 1", "CAM 2", "VT 1", "CAM 2", "STUDIO B"}) {
        const Bytes m = TextMsg(3, pszName);
        texts.insert(texts.end(), m.begin(), m.end());
    }
    Deliver(texts);
    EXPECT_EQ(memhost::ReadCount(), 1);
    EXPECT_EQ(memhost::Writes(), (std::vector<SlotWrite>{{1203, "STUDIO B"}}));
    EXPECT_EQ(iSerialRxCount, 5);
}

TEST_F(PublishTest, AStepGivesWayToArrivingBytesAndTheNextStepTakesThemFirst) {
    Deliver(Msg(0xD2));
    memhost::SetExchangeCostMs(1);
    const long long llReads = memhost::ReadCount();
    // The trigger arrives while the third slot of the block is being read.
    memhost::ArriveAfterReads(llReads + 3, TallyFive());
    const std::size_t nBefore = memhost::Writes().size();
    Deliver(ChangedBlock(0));
    EXPECT_EQ(memhost::ReadCount(), llReads + 3) << "the step ends after the slot it was sending";
    EXPECT_EQ(memhost::QueuedBytes(), TallyFive().size()) << "and leaves the bytes to the next";
    EXPECT_TRUE(WorkWaiting());
    EXPECT_EQ(memhost::SlotText(5), "0");

    Notify();
    const std::vector<SlotWrite>& writes = memhost::Writes();
    ASSERT_GT(writes.size(), nBefore + 4);
    EXPECT_EQ(writes[nBefore + 3], (SlotWrite{5, "1"}));
    EXPECT_EQ(writes[nBefore + 4].iSlot, 204) << "then the block where it was left";
    Settle();
    EXPECT_EQ(memhost::QueuedBytes(), 0u);
    EXPECT_EQ(writes.back().iSlot, 344);
}

TEST_F(PublishTest, BeingBehindIsReportedOnceAndCatchingUpWithTheValuesNeverSent) {
    // 4 ms an exchange: a step sends 7 slots, and a block's 100 take 800 ms.
    memhost::SetExchangeCostMs(4);
    Deliver(ChangedBlock(0));
    Settle();
    EXPECT_EQ(DebugLineCount(), 0) << "a burst cleared within a second is ordinary work";

    // Twelve steps send 84 slots of the next block; three more blocks queue up behind the other
    // 16, each changing every slot: 16 x 3 texts replaced, and 84 x 2.
    Deliver(ChangedBlock(1));
    for (int i = 0; i < 11; ++i)
        Notify();
    Deliver(Join({ChangedBlock(0), ChangedBlock(1), ChangedBlock(0)}));
    Settle();
    const std::vector<std::string> lines = {"Publishing behind the line - newest values first",
                                            "Publishing caught up - 216 superseded values never sent"};
    EXPECT_EQ(memhost::DebugLines(), lines);
    EXPECT_EQ(memhost::LogLines(), lines);
    EXPECT_EQ(memhost::SlotText(201), "170");
}
