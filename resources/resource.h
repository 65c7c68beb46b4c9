// Identifiers shared by sfx.rc and the dialog code. The directory chooser's
// identifiers are the ones the old-style open-file dialog looks for.
#pragma once

// The program icon; the main dialog loads it by this number.
#define IDI_ICON1 101

// Main dialog (SfxDialog).
#define IDC_DESTINATION 100
#define IDC_STATUS_PATH 101
#define IDC_STATUS_PERCENT 102
#define IDC_DEST_LABEL 103
#define IDC_BROWSE 104

// Directory chooser (GetDirDialog).
#define IDC_DIR_LABEL (-1)
#define IDC_CURRENT_DIR 1088
#define IDC_TYPE_LABEL 1089
#define IDC_NAME_LABEL 1090
#define IDC_DRIVE_LABEL 1091
#define IDC_HELP_BUTTON 1038
#define IDC_READ_ONLY 1040
#define IDC_FILE_LIST 1120
#define IDC_DIR_LIST 1121
#define IDC_TYPE_LIST 1136
#define IDC_DRIVE_LIST 1137
#define IDC_FILE_NAME 1152
