#pragma once
// Resource ids of the driver. Kept free of other headers so that windres can read it.

#define IDS_TITLE_FORMAT 103 // "Dravik_%03d - %s - %s": device number, state word, version text
#define IDS_CLASS_NAME 107
#define IDS_SECTION 110 // section of the device's settings file
#define IDS_VERSION 111

#define IDD_STATUS_PANEL 130
