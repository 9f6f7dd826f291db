#pragma once
// Publishing the pending set. A notification's work is a receive step (decode everything that
// waits, which only fills the pending set) and then, once nothing is left to frame, a publish step
// that sends the newest text of each pending slot with write-if-changed. A publish step gives way
// as soon as new bytes wait, so that a tally behind a busy stream is decoded, and published first,
// at the next step, whatever the infodriver's speed.
class SerialPort;

constexpr unsigned long PUBLISH_BUDGET_MS = 50;
// A set that has not been empty for this long means publishing is behind the line: bursts that
// publishing clears within it are ordinary work.
constexpr unsigned long PUBLISH_BEHIND_MS = 1000;

// One publish step: at least one entry, then more until the set is empty, the budget is spent or
// bytes wait in the device port's receive queue. Returns the number sent.
int PublishPending();
// The pending tallies and link transitions alone, whatever waits.
int PublishUrgent();
// The last step ended because bytes were waiting.
bool PublishGaveWay();
// While a backlog waits, a slice of the window's receive work frames for this long before the
// window's message loop runs again: a trip round the loop for every buffer's worth of a backlog
// costs far more than framing it.
constexpr unsigned long RECEIVE_SLICE_MS = 30;

// The work of one notification: the receive step, then the publish step when the receive left
// nothing it could frame.
void ReceiveAndPublish(SerialPort* pPort);
// The window's slice of receive work: receive steps while a backlog waits, then, once it is all
// framed, the publish step, and again while the step gave way to new bytes, for RECEIVE_SLICE_MS
// and one publish step at most. What the steps decode and publish is the same however they are
// grouped into slices.
void ReceiveSlice(SerialPort* pPort);
// Work is left that needs no new byte from the device: framing, publishing, or bytes that came
// while the last step published.
bool WorkWaiting();
// Test support and the protocol state's reset: no episode of being behind under way.
void ResetPublishing();
