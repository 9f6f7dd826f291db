#include "protocol/assembly.h"
std::array<unsigned char, ASSEMBLY_BUFFER_SIZE> AssemblyBuffer{};
int iWrtPtr = 0;
int iSerialRxCount = 0;
