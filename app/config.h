#pragma once
// The driver's configuration: the device's settings file, located through the control system's
// environment and shared profile files, read once at the main window's creation. Every key of the
// device file is written back so that a first start creates the file with its defaults.
// DebugMode, LogMode and LogPath live in app/diagnostics.h, Extensions, TXoutput and the device
// number in protocol/settings.h.
#include <windows.h>

constexpr int SETTING_CHARS = 256; // ReadSetting's buffer: a longer value is cut to 255 characters
constexpr int CONFIG_PATH_CHARS = 256;
constexpr int SECTION_CHARS = 100;

// Status panel fields this file fills.
constexpr int EXTENSIONS_CONTROL = 2002;   // "Enabled" or "Disabled"
constexpr int TX_OUTPUT_CONTROL = 2003;    // the TXoutput setting, "Dravik" for 0
constexpr int PORT_SUMMARY_CONTROL = 2005; // "COM1 38400,8,1,N"

extern char iniPath[CONFIG_PATH_CHARS];        // the device's settings file
extern char szSettingsSection[SECTION_CHARS];  // "Dravik", string 110: the device file's section
extern char defaultLogPath[CONFIG_PATH_CHARS]; // the log file when LogPath is missing or too short
extern int iWorkstation;
extern int iPort;
extern long lSpeed; // bit/s
extern int iDataBits;
extern int iStopBitsCode; // ONESTOPBIT or TWOSTOPBITS
extern int iParityCode;   // NOPARITY, ODDPARITY, EVENPARITY or MARKPARITY
// The four as the switcher has to match them, "38400,8,1,N": LineSettingsText (protocol/external.h).
// 1 while the main window shows its debug list; starts equal to the DebugMode setting.
extern int bListShown;

// Locates and reads the settings, writes them back, and shows Extensions, TXoutput and the port
// summary in the status panel. Once, after the status panel and the debug list exist.
void LoadConfiguration();

// The key's value, or the default when the key or the file is missing, in one shared buffer that
// the next call overwrites. With bWriteBack the value read is written to the key again.
const char* ReadSetting(const char* pszFile, const char* pszSection, const char* pszKey,
                        const char* pszDefault, bool bWriteBack);
// Writes the key, creating the file and the section when missing. The first failure of a start is
// named in the debug list and the log, with the file and the error (during LoadConfiguration, once
// it has read where the log goes).
void WriteSetting(const char* pszFile, const char* pszSection, const char* pszKey, const char* pszValue);
