#include "app/config.h"

#include "app/diagnostics.h"
#include "app/leading_number.h"
#include "protocol/settings.h"
#include "protocol/tally.h"
#include "resources/resource.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char iniPath[CONFIG_PATH_CHARS] = "";
char szSettingsSection[SECTION_CHARS] = "";
char defaultLogPath[CONFIG_PATH_CHARS] = "";
int iWorkstation = 0;
int iPort = 1;
long lSpeed = 38400;
int iDataBits = 8;
int iStopBitsCode = ONESTOPBIT;
int iParityCode = NOPARITY;
int bListShown = 1;

namespace {

// A path must fit its buffer whole: a cut path names some other file or folder.
constexpr int PATH_MAX_CHARS = CONFIG_PATH_CHARS - 1;
constexpr int LOG_PATH_MAX_CHARS = LOG_PATH_CHARS - 2; // LogPath keeps at most 254 characters
constexpr int PARITY_COMPARED_CHARS = 14;
// ReadSetting reads the whole value here first, so that writing it back never shortens what the
// file holds; only a value that fills even this is left unwritten.
constexpr int WHOLE_SETTING_CHARS = 4096;

char szSetting[SETTING_CHARS];
char szWholeSetting[WHOLE_SETTING_CHARS];

// A settings file that cannot be written (a standard user's Windows directory) loses the defaults
// written back and the menu's switches: said once a start, when both channels have their settings.
bool bLoading = false;
bool bWriteFailed = false;
bool bWriteFailureNamed = false;
DWORD dwWriteError = ERROR_SUCCESS;
char szUnwritable[CONFIG_PATH_CHARS] = "";

void NameWriteFailure() {
    if (!bWriteFailed || bWriteFailureNamed || bLoading)
        return;
    bWriteFailureNamed = true;
    DebugLine("Settings file %s not writable (error %lu) - defaults and menu switches are lost", szUnwritable,
              dwWriteError);
    LogLine("Settings file %s not writable (error %lu) - defaults and menu switches are lost", szUnwritable,
            dwWriteError);
}

// Windows reads a profile file as ANSI or, with its byte-order mark, as UTF-16: a UTF-8 mark
// becomes part of the first line, and the first section is not found. (Wine reads it.)
bool StartsWithUtf8Mark(const char* pszFile) {
    char szFull[MAX_PATH];
    // A bare name is the profile functions' file in the Windows directory.
    if (std::strpbrk(pszFile, "\\/:") == nullptr) {
        const UINT uLength = GetWindowsDirectoryA(szFull, sizeof szFull);
        if (uLength == 0 || uLength + 1 + std::strlen(pszFile) >= sizeof szFull)
            return false;
        std::snprintf(szFull + uLength, sizeof szFull - uLength, "\\%s", pszFile);
        pszFile = szFull;
    }
    HANDLE hFile = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    unsigned char Mark[3] = {};
    DWORD dwRead = 0;
    const bool bRead = ReadFile(hFile, Mark, sizeof Mark, &dwRead, nullptr) != FALSE;
    CloseHandle(hFile);
    return bRead && dwRead == sizeof Mark && Mark[0] == 0xEF && Mark[1] == 0xBB && Mark[2] == 0xBF;
}

void NameByteOrderMark() {
    DebugLine("Settings file %s starts with a UTF-8 byte-order mark - Windows skips its first section",
              iniPath);
    LogLine("Settings file %s starts with a UTF-8 byte-order mark - Windows skips its first section",
            iniPath);
}

struct Environment {
    char szWinDir[CONFIG_PATH_CHARS];
    char szRoot[CONFIG_PATH_CHARS];
    char szSystem[CONFIG_PATH_CHARS];
    char szWorkstation[CONFIG_PATH_CHARS];
    bool bWinDir;
    bool bRoot;
    bool bSystem;
    bool bWorkstation;
};

// False when the variable is unset, and when its value does not fit: nothing composed from a value
// longer than a path could fit a path either. An empty value counts as set.
bool ReadEnvironment(const char* pszName, char* pszValue) {
    SetLastError(ERROR_SUCCESS);
    const DWORD dwLength = GetEnvironmentVariableA(pszName, pszValue, CONFIG_PATH_CHARS);
    const bool bUnset = dwLength == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND;
    if (bUnset || dwLength >= CONFIG_PATH_CHARS) {
        pszValue[0] = '\0';
        return false;
    }
    pszValue[dwLength] = '\0';
    return true;
}

void ReadEnvironment(Environment& Env) {
    Env.bWinDir = ReadEnvironment("WINDIR", Env.szWinDir);
    Env.bRoot = ReadEnvironment("CC_ROOT", Env.szRoot);
    Env.bSystem = ReadEnvironment("CC_SYSTEM", Env.szSystem);
    Env.bWorkstation = ReadEnvironment("CC_WORKSTATION", Env.szWorkstation);
}

// Formats into pszPath only when the whole result has at most iMaxChars characters; pszPath is
// left as it was otherwise.
bool ComposePath(char* pszPath, int iMaxChars, const char* pszFormat, ...) DRAVIK_PRINTF(3, 4);
bool ComposePath(char* pszPath, int iMaxChars, const char* pszFormat, ...) {
    char szComposed[CONFIG_PATH_CHARS];
    va_list args;
    va_start(args, pszFormat);
    const int iLength = std::vsnprintf(szComposed, sizeof szComposed, pszFormat, args);
    va_end(args);
    if (iLength < 0 || iLength > iMaxChars || iLength > PATH_MAX_CHARS)
        return false;
    std::memcpy(pszPath, szComposed, static_cast<std::size_t>(iLength) + 1);
    return true;
}

// At most iMaxChars characters of pszText into pszTarget, always terminated.
void CopyText(char* pszTarget, int iMaxChars, const char* pszText) {
    const std::size_t uLength = strnlen(pszText, static_cast<std::size_t>(iMaxChars));
    std::memcpy(pszTarget, pszText, uLength);
    pszTarget[uLength] = '\0';
}

void LoadSectionName() {
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_SECTION, szSettingsSection, SECTION_CHARS) <= 0)
        CopyText(szSettingsSection, SECTION_CHARS - 1, "Dravik");
}

// The control system's tree when CC_ROOT and CC_SYSTEM both give one, else the folder that
// c:\vorn_config.ini names (the Windows directory by default), else the bare file name, which the
// profile functions look for in the Windows directory. A route whose paths do not fit is passed
// over for the next one.
void LocateSettingsFiles(const Environment& Env, const char* pszDeviceFile) {
    if (Env.bRoot && Env.bSystem) {
        char szLog[CONFIG_PATH_CHARS];
        if (ComposePath(szLog, LOG_PATH_MAX_CHARS, "%s\\%s\\logs\\Dravik_%03d.log", Env.szRoot, Env.szSystem,
                        iDeviceNumber) &&
            ComposePath(iniPath, PATH_MAX_CHARS, "%s\\%s\\config\\system\\%s", Env.szRoot, Env.szSystem,
                        pszDeviceFile)) {
            CopyText(defaultLogPath, PATH_MAX_CHARS, szLog);
            return;
        }
    }
    ComposePath(defaultLogPath, LOG_PATH_MAX_CHARS, "c:\\vornlogs\\Dravik_%03d.log", iDeviceNumber);
    if (Env.bWinDir) {
        const char* pszFolder =
            ReadSetting("c:\\vorn_config.ini", "Config", "ConfigPath", Env.szWinDir, false);
        if (ComposePath(iniPath, PATH_MAX_CHARS, "%s\\%s", pszFolder, pszDeviceFile))
            return;
    }
    CopyText(iniPath, PATH_MAX_CHARS, pszDeviceFile);
}

void ReadWorkstation(const Environment& Env) {
    const char* pszValue =
        Env.bWorkstation ? Env.szWorkstation : ReadSetting("ZIV.INI", "Network", "Workstation", "0", false);
    iWorkstation = LeadingNumber(pszValue);
}

// A device setting, written back as read.
const char* DeviceSetting(const char* pszKey, const char* pszDefault) {
    return ReadSetting(iniPath, szSettingsSection, pszKey, pszDefault, true);
}

int DeviceNumberSetting(const char* pszKey, const char* pszDefault) {
    return LeadingNumber(DeviceSetting(pszKey, pszDefault));
}

void ReadLogPath() {
    const char* pszValue = DeviceSetting("LogPath", defaultLogPath);
    const std::size_t uLength = std::strlen(pszValue);
    if (uLength < 3) {
        CopyText(szLogPath, LOG_PATH_MAX_CHARS, defaultLogPath);
        WriteSetting(iniPath, szSettingsSection, "LogPath", defaultLogPath);
    } else if (uLength > static_cast<std::size_t>(LOG_PATH_MAX_CHARS)) {
        // Cut, it would append to some other file. The file keeps the operator's value.
        CopyText(szLogPath, LOG_PATH_MAX_CHARS, defaultLogPath);
    } else {
        CopyText(szLogPath, LOG_PATH_MAX_CHARS, pszValue);
    }
    DebugLine("Path to log file %s", szLogPath);
}

void ReadExtensions() {
    bExtensions = DeviceNumberSetting("Extensions", "0") != 0;
    SetPanelText(EXTENSIONS_CONTROL, bExtensions ? "Enabled" : "Disabled");
}

void ReadTxOutput() {
    const int iSetting = DeviceNumberSetting("TXoutput", "0");
    iTXoutput = TxOutputSlot(iSetting);
    char szShown[16] = "Dravik";
    if (iSetting != 0)
        std::snprintf(szShown, sizeof szShown, "%d", iSetting);
    SetPanelText(TX_OUTPUT_CONTROL, szShown);
    DebugLine("iTXoutput = %d", iTXoutput);
}

// "N", "O", "E" or "M" in either case; any other text is no parity.
int ParityCode(const char* pszText) {
    constexpr char szLetters[] = "NOEM"; // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY
    if (pszText[0] == '\0' || pszText[1] != '\0')
        return NOPARITY;
    const char cLetter = pszText[0];
    for (int iCode = 0; iCode < 4; ++iCode)
        if (cLetter == szLetters[iCode] || cLetter == szLetters[iCode] - 'A' + 'a')
            return iCode;
    return NOPARITY;
}

void ReadPortSettings() {
    iPort = DeviceNumberSetting("Port", "1");
    lSpeed = DeviceNumberSetting("Speed", "38400");
    iDataBits = DeviceNumberSetting("DataBits", "8");
    iStopBitsCode = DeviceNumberSetting("StopBits", "1") == 2 ? TWOSTOPBITS : ONESTOPBIT;
    char szParity[PARITY_COMPARED_CHARS + 1];
    CopyText(szParity, PARITY_COMPARED_CHARS, DeviceSetting("Parity", "N"));
    iParityCode = ParityCode(szParity);

    char szSummary[64];
    std::snprintf(szSummary, sizeof szSummary, "COM%d %s", iPort, LineSettingsText());
    SetPanelText(PORT_SUMMARY_CONTROL, szSummary);
}

} // namespace

const char* LineSettingsText() {
    constexpr char szStopBitsShown[] = "152";
    constexpr char szParityShown[] = "NOEMS";
    static char szText[48];
    const bool bKnown = iStopBitsCode >= 0 && iStopBitsCode <= 2 && iParityCode >= 0 && iParityCode <= 4;
    std::snprintf(szText, sizeof szText, "%ld,%d,%c,%c", lSpeed, iDataBits,
                  bKnown ? szStopBitsShown[iStopBitsCode] : '?', bKnown ? szParityShown[iParityCode] : '?');
    return szText;
}

const char* ReadSetting(const char* pszFile, const char* pszSection, const char* pszKey,
                        const char* pszDefault, bool bWriteBack) {
    const DWORD dwLength = GetPrivateProfileStringA(pszSection, pszKey, pszDefault, szWholeSetting,
                                                    WHOLE_SETTING_CHARS, pszFile);
    CopyText(szSetting, SETTING_CHARS - 1, szWholeSetting);
    // Without a key the profile functions would take the write as the removal of the whole section.
    if (bWriteBack && pszKey != nullptr && dwLength < WHOLE_SETTING_CHARS - 1)
        WriteSetting(pszFile, pszSection, pszKey, szWholeSetting);
    return szSetting;
}

void WriteSetting(const char* pszFile, const char* pszSection, const char* pszKey, const char* pszValue) {
    if (WritePrivateProfileStringA(pszSection, pszKey, pszValue, pszFile))
        return;
    if (!bWriteFailed) {
        bWriteFailed = true;
        dwWriteError = GetLastError();
        CopyText(szUnwritable, PATH_MAX_CHARS, pszFile);
    }
    NameWriteFailure();
}

void LoadConfiguration() {
    Environment Env{};
    ReadEnvironment(Env);
    char szDeviceFile[32];
    std::snprintf(szDeviceFile, sizeof szDeviceFile, "DEV_%03d.ini", iDeviceNumber);
    LoadSectionName();
    // The location lines below reach the list whatever the file says.
    iDebugMode = 1;
    bLoading = true;
    bWriteFailed = false;
    bWriteFailureNamed = false;

    LocateSettingsFiles(Env, szDeviceFile);
    const bool bByteOrderMark = StartsWithUtf8Mark(iniPath);
    ReadWorkstation(Env);
    DebugLine("Path to ini file is %s", iniPath);
    DebugLine("Workstation is %d", iWorkstation);

    iLogMode = DeviceNumberSetting("LogMode", "0");
    ReadLogPath();
    iDebugMode = DeviceNumberSetting("DebugMode", "1");
    bListShown = iDebugMode;
    ReadExtensions();
    ForgetPublishedTallies();
    ReadTxOutput();
    ReadPortSettings();

    bLoading = false;
    if (bByteOrderMark)
        NameByteOrderMark();
    NameWriteFailure();
}
