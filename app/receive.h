#pragma once
// The device port's receive as the window runs it: slices of framing and publishing, and the watch
// on the receive queue's overflow.

// One slice of the receive: what the line brought is framed, a backlog for a bounded time, and
// once it is all framed the pending slots are published, tallies first.
void RunReceive();
// Once a second: reports bytes the receive queue had to drop, once at the start of an episode and
// once, with their number, when a second passes without more; and has the queue give back the
// pages a backlog took once it has long been small again.
void WatchReceiveQueue();
