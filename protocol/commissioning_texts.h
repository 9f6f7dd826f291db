#pragma once
// The lines that tell an engineer putting the driver into service which setting differs from the
// switcher's. Each goes to the debug list and the log. A good line with the right settings never
// earns one: checks for that look for the prefixes.
#include <array>

// Extensions is clear, yet most block and short messages are followed by the bytes of their long
// form.
constexpr char SENDS_EXTENDED_TEXT[] = "The switcher seems to send the extended set - set Extensions=1";
// Extensions is set, yet most block and short messages hold the next command pair where the long
// form has its extra bytes.
constexpr char SENDS_PLAIN_TEXT[] = "The switcher seems to send the plain set - set Extensions=0";
// Bytes kept coming for ten seconds and almost none of them framed as messages.
constexpr char FEW_MESSAGES_TEXT[] =
    "Bytes arrive but few messages frame - check Speed, DataBits, Parity and StopBits against the switcher";
// The port reported line errors: the framing, parity and overrun counts (the port's own overruns
// and its receive buffer's together), then the driver's line settings ("38400,8,1,N").
constexpr char LINE_ERRORS_FORMAT[] = "Line errors in the last minute: %d framing, %d parity, %d overrun - "
                                      "check Speed, DataBits, Parity and StopBits against the switcher (%s)";

// The fixed start of every one of them.
constexpr std::array<const char*, 4> COMMISSIONING_PREFIXES = {
    "The switcher seems to send the extended set",
    "The switcher seems to send the plain set",
    "Bytes arrive but few messages frame",
    "Line errors in the last minute",
};
