// Numbers in settings texts: the leading decimal number, held at the int range.
#include "app/leading_number.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(LeadingNumber, TakesBlanksSignAndDigitsUpToTheFirstOtherCharacterAndZeroWithoutDigits) {
    EXPECT_EQ(7, LeadingNumber("7"));
    EXPECT_EQ(7, LeadingNumber("007"));
    EXPECT_EQ(7, LeadingNumber(" \t7 further words"));
    EXPECT_EQ(-3, LeadingNumber("-3"));
    EXPECT_EQ(12, LeadingNumber("+12x"));
    EXPECT_EQ(0, LeadingNumber("0x10"));
    // No digits at all:
    EXPECT_EQ(0, LeadingNumber(""));
    EXPECT_EQ(0, LeadingNumber("abc"));
    EXPECT_EQ(0, LeadingNumber("- 5"));
    EXPECT_EQ(0, LeadingNumber(nullptr));
}

TEST(LeadingNumber, NumbersBeyondTheIntRangeAreHeldAtItsEnds) {
    EXPECT_EQ(INT_MAX, LeadingNumber("2147483647"));
    EXPECT_EQ(INT_MAX, LeadingNumber("2147483648"));
    EXPECT_EQ(INT_MIN, LeadingNumber("-2147483648"));
    EXPECT_EQ(INT_MIN, LeadingNumber("-99999999999999999999999999"));
    EXPECT_EQ(INT_MAX, LeadingNumber(" 99999999999999999999999999 bit/s"));
}

} // namespace
