#pragma once
// Shared by the receive loop and the framing pass: the time budget of one notification and how
// the last pass ended.

// Starts the budget of one notification's framing work.
void StartFramingBudget();
// The budget is spent: a pass ends after the message it is handling.
bool FramingBudgetSpent();
// The last pass ended before the end of the buffer for a reason other than a missing byte.
bool PassEndedEarly();
