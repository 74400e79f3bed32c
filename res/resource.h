// Resource, command and control identifiers shared by the program and its
// resource script.
#ifndef NOCTIL_RESOURCE_H
#define NOCTIL_RESOURCE_H

// Static text controls that nothing addresses (the real Windows headers leave
// this to each program's own resource header).
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_APPICON_SMALL 108
#define IDC_MAINMENU 109
#define IDD_SETUP 129
#define IDB_TOOLBAR 130
#define IDC_TOOLBAR 130
#define IDI_APPICON 132

#define IDC_EXPOSURE 1001
#define IDC_FILENAME 1002
#define IDC_BROWSE 1003
#define IDC_AUTOINCREMENT 1004
#define IDC_DELAY 1005
#define IDC_COUNT 1006
#define IDC_AMPOFF 1007
#define IDC_STARTCAPTURE 1008

// The Live Stack window's controls.
#define IDC_STACK_COUNTS 1101
#define IDC_STACK_FATE 1102
#define IDC_STACK_STARS 1103
#define IDC_STACK_SHIFT 1104
#define IDC_STACK_CALIBRATION 1105
#define IDC_STACK_FILE 1106
#define IDC_STACK_LEVELS 1107
#define IDC_STACK_AUTO 1108
#define IDC_STACK_BLACK_DOWN 1109
#define IDC_STACK_BLACK_UP 1110
#define IDC_STACK_WHITE_DOWN 1111
#define IDC_STACK_WHITE_UP 1112
#define IDC_STACK_MID_DOWN 1113
#define IDC_STACK_MID_UP 1114

#define IDM_DRIVER0 32771
#define IDM_PREVIEW 32775
#define IDM_RECORD 32776
#define IDM_VIDEOSOURCE 32779
#define IDM_VIDEOFORMAT 32780
#define IDM_SAVEIMAGESIN 32781
#define IDM_STOP 32782
#define IDM_AUTOINCREMENT 32783
#define IDM_SETUP 32784
#define IDM_OVERLAY 32785
#define IDM_PAUSE 32790
// The Stack menu's commands, past the block the driver entries 4 to 9
// take (IDM_DRIVER4, device/driver_ids.h).
#define IDM_LIVESTACK 32800
#define IDM_RESETSTACK 32801
#define IDM_TAKEDARKS 32802
#define IDM_TAKEFLATS 32803
#define IDM_SAVESTACK 32804

#endif  // NOCTIL_RESOURCE_H
