#pragma once
// Scenarios: a small text format, one step per line, turned into a flat list of steps to play.
// Captures are written in the same format (at + raw), so a capture plays like a scenario.
#include "tools/devsim/messages.h"

#include <string>
#include <vector>

namespace devsim {

enum class StepKind { Send, Wait, At, Say };

struct Step {
    StepKind Kind;
    Bytes Data;        // Send
    long long iMs = 0; // Wait: pause; At: time from the start of the play
    std::string sNote; // Say
};

// Parses the scenario text; on failure returns false with "line N: reason" in sError.
bool ParseScenario(const std::string& sText, bool bExtensions, std::vector<Step>& Steps, std::string& sError);

extern const char* const pszScenarioHelp;

} // namespace devsim
