// Resource and command identifiers, shared by the resource script and the code.
#pragma once

#define IDS_APP_NAME 109
#define IDR_MAINMENU 109
#define IDR_ACCELERATORS 109

#define IDD_CONFIG 120
// The ids platform::EditPlaySettings knows the dialog's controls by.
#define IDC_REPEAT 1001
#define IDC_PAUSE 1002
#define IDC_FOLLOW 1003
#define IDC_WINDOW_WAIT 1004

#define IDI_MAIN 107
#define IDI_BLANK 135
#define IDI_FRAME_RAISED 138
#define IDI_FRAME_RIGHT 139
#define IDI_FRAME_MIDDLE 140
#define IDI_FRAME_LEFT 141

#define IDM_EXIT 105
#define IDM_RECORD 32771
#define IDM_PLAY 32772
#define IDM_SAVE 32773
#define IDM_LOAD 32774
#define IDM_SOUND 32775
#define IDM_STOP 32778
#define IDM_FASTER 32780
#define IDM_SLOWER 32781
#define IDM_NORMALSPEED 32782
#define IDM_EMPTY 32783
#define IDM_CONFIG 32784
#define IDM_HIDE 32785
