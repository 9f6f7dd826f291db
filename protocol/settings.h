#pragma once
// Settings the protocol core reads. Configuration sets them at start; the core never writes them.

// The device number (1 to 999), also the infodriver's number.
extern int iDeviceNumber;
// The Extensions setting: long forms of the block and short messages.
extern bool bExtensions;
// 0, or the slot whose SlotByteTable entry is the single tally root.
extern int iTXoutput;

// The slot named by the TXoutput setting: 0 stays 0, 1 to 16 pick number k of output message o
// (331 to 334, 531 to 534, 731 to 734, 931 to 934), anything else is a slot number as it stands.
int TxOutputSlot(int iSetting);
