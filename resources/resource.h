#pragma once
// Resource, command and control identifiers shared by the resource script and the code.

#define IDS_APP_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDI_ZENTROVIA 107
#define IDI_SMALL 108
#define IDC_ZENTROVIA 109  // menu and accelerator table
#define IDR_LOGO_PNG 129

#define IDM_ABOUT 104
#define IDM_EXIT 105

#define IDC_RECORD 1001
#define IDC_PAUSE 1003
#define IDC_REGION 1005
#define IDC_STATUS 1007
#define IDC_FULLSCREEN 1009
#define IDC_MICROPHONE 1010
#define IDC_FOLDER 1011
#define IDC_BROWSE 1012
#define IDC_WEBCAM 1013

#define IDM_TRAY_SHOW 2001
#define IDM_TRAY_HIDE 2002
#define IDM_TRAY_EXIT 2003
#define IDM_SETTINGS 32773

#define TIMER_DURATION 1001

#define IDP_RECORD 150
#define IDP_PAUSE 151
#define IDP_RESUME 152
#define IDP_STOP 153
#define IDP_REGION 154
#define IDP_FULLSCREEN 155
#define IDP_MIC_ON 156
#define IDP_MIC_OFF 157
#define IDP_WEBCAM 158
