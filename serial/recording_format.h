#pragma once
// The line recording's file, written by serial/line_recorder.cpp and read by the device simulator.
//
// A text header: the first line RECORDING_MAGIC, then "key value" lines (device, started, port,
// speed), ended by an empty line. Then records, numbers as unsigned LEB128 (7 bits a byte, low
// first, the top bit set on every byte but the last):
//   dt n byte*n     n (1..256) bytes the reader received dt ms after the record before (after the
//                   start, for the first)
//   dt 0 lost       lost > 0: this many bytes were received since the record before but not
//                   recorded (the ring was full); noted ahead of the next record, or of the end
//   dt 0 0          the end: the recording stopped dt ms after the last record
// A file without the end record was cut short (the driver ended, or a write failed).

constexpr char RECORDING_MAGIC[] = "DRAVIK LINE RECORDING 1";
constexpr int RECORDING_MAX_CHUNK = 256; // the reader's buffer: no chunk is longer
constexpr int RECORDING_NUMBER_BYTES = 10; // the longest encoding of a 64-bit number

// Writes iValue at p; the number of bytes used.
inline int PutRecordingNumber(unsigned char* p, unsigned long long iValue) {
    int n = 0;
    while (iValue >= 0x80) {
        p[n++] = static_cast<unsigned char>(iValue | 0x80);
        iValue >>= 7;
    }
    p[n++] = static_cast<unsigned char>(iValue);
    return n;
}

// Reads a number from p..pEnd into *piValue; the bytes used, 0 when it runs past pEnd or is too long.
inline int GetRecordingNumber(const unsigned char* p, const unsigned char* pEnd, unsigned long long* piValue) {
    unsigned long long iValue = 0;
    for (int n = 0; n < RECORDING_NUMBER_BYTES && p + n < pEnd; ++n) {
        iValue |= static_cast<unsigned long long>(p[n] & 0x7F) << (7 * n);
        if ((p[n] & 0x80) == 0) {
            *piValue = iValue;
            return n + 1;
        }
    }
    return 0;
}
