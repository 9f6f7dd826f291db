#pragma once
// The leading decimal number of a text, as the settings files and the command line give numbers.

// Leading white space skipped, an optional sign, then decimal digits up to the first other
// character; a text without digits gives 0. A number beyond the int range is held at INT_MAX or
// INT_MIN rather than wrapping.
int LeadingNumber(const char* pszText);
