#pragma once
// Resource ids of the driver. Kept free of other headers so that windres can read it.

// Strings
#define IDS_TITLE_FORMAT 103 // "Dravik_%03d - %s - %s": device number, state word, version text
#define IDS_CLASS_NAME 107
#define IDS_SECTION 110 // section of the device's settings file
#define IDS_VERSION 111

// Icon and version block
#define IDI_DRAVIK 1
#define IDV_VERSION 1

// About box
#define IDD_ABOUT 103
#define IDC_ABOUT_ICON 2
#define IDC_ABOUT_VERSION 1000 // "Version %s"
#define IDC_ABOUT_BUILD 1001   // build date and time

// Menu and accelerators (same id) and their commands
#define IDR_MAINMENU 109
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_DEBUG_CLEAR 32771
#define IDM_DEBUG_ON 32773
#define IDM_DEBUG_HIDE 32775
#define IDM_LOG_ENABLE 32776
#define IDM_DEBUG_RECORD 32777 // "Record line", marked while the line is recorded
#define IDM_POPUP_DEBUG 1 // pop-ups by position in the menu bar
#define IDM_POPUP_LOG 2

// Status panel and its controls
#define IDD_STATUS 130
#define IDC_TALLY_FIRST 1006 // tally n is IDC_TALLY_FIRST + n - 1
#define IDC_TALLY_LAST 1133
#define IDC_LINK_STATUS 2001    // "Comms OK" / "Comms FAIL"
#define IDC_EXTENSIONS 2002     // "Enabled" / "Disabled"
#define IDC_TX_OUTPUT 2003      // "Dravik" or the TXoutput number
#define IDC_PORT_SETTINGS 2005  // "COM%d %d,%d,%c,%c"
#define IDC_INFODRIVER_RX 2006  // "%08d"
#define IDC_INFODRIVER_TX 2007  // "%08d"
#define IDC_SERIAL_RX 2008      // "%08d"
#define IDC_SERIAL_TX 2009      // disabled: the driver never transmits
#define IDC_REDUNDANCY_MODE 2010 // indicator of class "OLM_CC09_Button"
