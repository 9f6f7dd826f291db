#pragma once
// Device messages as the device sends them: a command byte twice, then the data bytes of its
// kind. Numbers and flags are given the way the layouts count them (number k, flag k from 1).
#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

using Bytes = std::vector<std::uint8_t>;

struct Fields {
    std::vector<int> Numbers; // number 1, 2, ... of the message; missing ones are 0
    std::vector<int> Flags;   // flag numbers (from 1) that are set
};

int BlockLength(bool bExtensions);
int ShortLength(bool bExtensions);

// Each returns the message, or an empty vector with sError set when a field does not fit.
Bytes BlockMessage(int iBlock, const Fields& f, bool bExtensions, std::string& sError);
Bytes GroupMessage(int iGroup, const Fields& f, std::string& sError);
Bytes ShortMessage(const Fields& f, bool bExtensions, std::string& sError);
Bytes OutputMessage(int iOutput, const Fields& f, std::string& sError);
Bytes TextMessage(int iIndex, const std::string& sText, std::string& sError);
Bytes MarkerMessage();
Bytes TallyTrigger();

} // namespace devsim
