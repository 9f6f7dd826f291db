#pragma once
// Device byte streams kept in files: readable hex text (pairs of hex digits, blanks, commas and
// line breaks between them, '#' or ';' starting a comment to the end of the line), or the raw
// bytes of a capture. A file that is not hex but holds anything besides plain ASCII text is taken
// as raw bytes; plain text that is not hex is a typing fault and is reported.
#include <string>
#include <vector>

// 0 with the bytes; 1 with a message naming the file and line of the fault.
int LoadStreamFile(const std::string& sPath, std::vector<unsigned char>& bytes, std::string& sError);
