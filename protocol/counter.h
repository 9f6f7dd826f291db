#pragma once
// The traffic counters (serial messages, infodriver writes and slot changes) count up to
// 99,999,999 and start again at 0: the status panel shows eight digits, and a signed count that
// ran on would overflow after about two weeks of a busy line.
constexpr int COUNTER_LIMIT = 100000000;

// The count after one more.
constexpr int NextCount(int iCount) {
    return iCount < COUNTER_LIMIT - 1 ? iCount + 1 : 0;
}
