// The receive ring on its own: order across the end, fill level, and overflow that keeps what
// was queued instead of overwriting it. The tests make queues of 16384 bytes, which they can fill;
// the driver's hold minutes of the line.
#include "serial/rx_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<BYTE> Sequence(int n, int iFirst = 0) {
    std::vector<BYTE> Bytes(n);
    for (int i = 0; i < n; ++i)
        Bytes[i] = static_cast<BYTE>((iFirst + i) * 7 + (iFirst + i) / 251);
    return Bytes;
}

std::vector<BYTE> ReadAll(HRXQUEUE hQueue, int iChunk = 16) {
    std::vector<BYTE> Bytes;
    BYTE Buffer[256];
    for (int n; (n = RxQueueRead(hQueue, Buffer, iChunk)) > 0;)
        Bytes.insert(Bytes.end(), Buffer, Buffer + n);
    return Bytes;
}

constexpr int RING_SIZE = 16384;
constexpr int RING_CAPACITY = RING_SIZE - 1;

class Queue : public ::testing::Test {
  protected:
    void SetUp() override {
        iRxQueueSize = RING_SIZE;
        ASSERT_NE(hQueue = RxQueueCreate(), nullptr);
    }
    void TearDown() override {
        RxQueueFree(hQueue);
        iRxQueueSize = RX_QUEUE_BYTES;
    }
    // Moves both indices to iIndex through the public operations, and reads the byte that keeps
    // them there: an emptied queue starts again at the ring's start.
    void MoveIndicesTo(int iIndex) {
        const auto Filler = Sequence(iIndex + 1);
        ASSERT_EQ(RxQueuePush(hQueue, Filler.data(), iIndex + 1), iIndex + 1);
        BYTE Buffer[256];
        for (int iLeft = iIndex; iLeft > 0;)
            iLeft -= RxQueueRead(hQueue, Buffer, iLeft < 256 ? iLeft : 256);
        ASSERT_EQ(RxQueueFill(hQueue), 1);
    }
    LONG ReadIndex() const {
        const LONG iIndex = static_cast<RxQueue*>(GlobalLock(hQueue))->iReadIndex;
        GlobalUnlock(hQueue);
        return iIndex;
    }
    HRXQUEUE hQueue = nullptr;
};

TEST_F(Queue, BytesReadAcrossTheEndOfTheRingComeInPushOrderAndTheFillCountsAroundIt) {
    MoveIndicesTo(16000);
    const auto Bytes = Sequence(394, 1);
    ASSERT_EQ(RxQueuePush(hQueue, Bytes.data(), 200), 200);
    ASSERT_EQ(RxQueuePush(hQueue, Bytes.data() + 200, 194), 194);
    // Write index 11, read index 16000.
    BYTE Held;
    ASSERT_EQ(RxQueueRead(hQueue, &Held, 1), 1);
    EXPECT_EQ(RxQueueFill(hQueue), 394);
    BYTE First[100];
    ASSERT_EQ(RxQueueRead(hQueue, First, 100), 100);
    EXPECT_EQ(RxQueueFill(hQueue), 294);
    auto Rest = ReadAll(hQueue, 13);
    Rest.insert(Rest.begin(), First, First + 100);
    EXPECT_EQ(Rest, Bytes);
    EXPECT_EQ(RxQueueFill(hQueue), 0);
    EXPECT_EQ(RxQueueDropped(hQueue), 0);
    EXPECT_EQ(ReadIndex(), 0);
}

TEST_F(Queue, AFullRingKeepsItsUnreadBytesAndDropsAndCountsTheRestOfTheChunk) {
    // 16384 unread bytes must not read back as an empty queue.
    const auto Bytes = Sequence(16390, 3);
    EXPECT_EQ(RxQueueCapacity(hQueue), RING_CAPACITY);
    EXPECT_EQ(RxQueuePush(hQueue, Bytes.data(), 16384), RING_CAPACITY);
    EXPECT_EQ(RxQueueFill(hQueue), RING_CAPACITY);
    EXPECT_EQ(RxQueueDropped(hQueue), 1);
    EXPECT_EQ(RxQueuePush(hQueue, Bytes.data() + 16384, 6), 0);
    EXPECT_EQ(RxQueueDropped(hQueue), 7);

    BYTE Head[100];
    ASSERT_EQ(RxQueueRead(hQueue, Head, 100), 100);
    const auto More = Sequence(300, 9);
    EXPECT_EQ(RxQueuePush(hQueue, More.data(), 300), 100);
    EXPECT_EQ(RxQueueDropped(hQueue), 207);

    std::vector<BYTE> Expected(Bytes.begin() + 100, Bytes.begin() + RING_CAPACITY);
    Expected.insert(Expected.end(), More.begin(), More.begin() + 100);
    EXPECT_EQ(ReadAll(hQueue), Expected);
}

TEST_F(Queue, AFullRingAcrossTheEndStillStopsOneShortOfTheReader) {
    MoveIndicesTo(10000);
    const auto Bytes = Sequence(20000, 5);
    EXPECT_EQ(RxQueuePush(hQueue, Bytes.data(), 20000), RING_CAPACITY - 1);
    EXPECT_EQ(RxQueueFill(hQueue), RING_CAPACITY);
    BYTE Held;
    ASSERT_EQ(RxQueueRead(hQueue, &Held, 1), 1);
    EXPECT_EQ(ReadAll(hQueue), std::vector<BYTE>(Bytes.begin(), Bytes.begin() + RING_CAPACITY - 1));
}

TEST_F(Queue, NullArgumentsAndEmptyRequestsDoNothing) {
    const BYTE Byte = 1;
    BYTE Buffer[4];
    EXPECT_EQ(RxQueuePush(nullptr, &Byte, 1), 0);
    EXPECT_EQ(RxQueuePush(hQueue, nullptr, 1), 0);
    EXPECT_EQ(RxQueuePush(hQueue, &Byte, 0), 0);
    EXPECT_EQ(RxQueueRead(nullptr, Buffer, 4), 0);
    EXPECT_EQ(RxQueueRead(hQueue, nullptr, 4), 0);
    EXPECT_EQ(RxQueueRead(hQueue, Buffer, 0), 0);
    EXPECT_EQ(RxQueueRead(hQueue, Buffer, 4), 0);
    EXPECT_EQ(RxQueueFill(nullptr), -1);
    EXPECT_EQ(RxQueueDropped(nullptr), -1);
    EXPECT_EQ(RxQueueDropped(hQueue), 0);
    RxQueueFree(nullptr);
}

TEST_F(Queue, ALockHeldElsewhereForMoreThan200MsGivesUpAndCountsTheChunkAsDropped) {
    auto* pQueue = static_cast<RxQueue*>(GlobalLock(hQueue));
    ASSERT_TRUE(TryAcquireSRWLockExclusive(&pQueue->Lock));
    const auto Bytes = Sequence(10);
    BYTE Buffer[10];
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RxQueuePush(hQueue, Bytes.data(), 10), 0);
    EXPECT_GE(GetTickCount() - dwStart, 150u);
    EXPECT_EQ(RxQueueRead(hQueue, Buffer, 10), 0);
    EXPECT_EQ(RxQueueFill(hQueue), -1);
    ReleaseSRWLockExclusive(&pQueue->Lock);
    GlobalUnlock(hQueue);
    EXPECT_EQ(RxQueueDropped(hQueue), 10);
    EXPECT_EQ(RxQueueFill(hQueue), 0);
}

TEST(QueueLocks, EveryQueueHasItsOwnLock) {
    HRXQUEUE hFirst = RxQueueCreate(), hSecond = RxQueueCreate();
    auto* pFirst = static_cast<RxQueue*>(GlobalLock(hFirst));
    ASSERT_TRUE(TryAcquireSRWLockExclusive(&pFirst->Lock));
    // A busy first queue does not hold up the second.
    const BYTE Byte = 42;
    EXPECT_EQ(RxQueuePush(hSecond, &Byte, 1), 1);
    ReleaseSRWLockExclusive(&pFirst->Lock);
    GlobalUnlock(hFirst);
    RxQueueFree(hFirst);
    RxQueueFree(hSecond);
}

} // namespace

TEST_F(Queue, ThePagesABacklogTookAreGivenBackOnceTheQueueHasLongBeenSmallAndServeAgainAfter) {
    const auto Deep = Sequence(RING_CAPACITY, 5);
    ASSERT_EQ(RxQueuePush(hQueue, Deep.data(), RING_CAPACITY), RING_CAPACITY);
    const DWORD dwStart = 1000;
    EXPECT_EQ(RxQueueTrim(hQueue, dwStart), 0) << "not while the backlog waits";
    ASSERT_EQ(ReadAll(hQueue, 256), Deep);
    EXPECT_EQ(RxQueueTrim(hQueue, dwStart + 1), 0) << "small from here";
    EXPECT_EQ(RxQueueTrim(hQueue, dwStart + RX_TRIM_AFTER_MS), 0);
    // A second burst beyond the kept bytes waits its time again.
    ASSERT_EQ(RxQueuePush(hQueue, Deep.data(), RING_SIZE / 2), RING_SIZE / 2);
    EXPECT_EQ(RxQueueTrim(hQueue, dwStart + RX_TRIM_AFTER_MS + 2), 0);
    ASSERT_EQ(ReadAll(hQueue).size(), static_cast<std::size_t>(RING_SIZE / 2));
    const DWORD dwSmall = dwStart + RX_TRIM_AFTER_MS + 3;
    EXPECT_EQ(RxQueueTrim(hQueue, dwSmall), 0);
    EXPECT_GE(RxQueueTrim(hQueue, dwSmall + RX_TRIM_AFTER_MS), RING_SIZE / 2);
    EXPECT_EQ(RxQueueTrim(hQueue, dwSmall + 2 * RX_TRIM_AFTER_MS), 0) << "given back once";
    // The pages given back hold a backlog again.
    const auto Again = Sequence(RING_CAPACITY, 9);
    ASSERT_EQ(RxQueuePush(hQueue, Again.data(), RING_CAPACITY), RING_CAPACITY);
    EXPECT_EQ(ReadAll(hQueue, 256), Again);
}
