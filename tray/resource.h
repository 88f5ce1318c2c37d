// tray/resource.h
// Resource and command ids of the tray program. The numbers are fixed.
#pragma once

// Icons: the program's own, and the two pictures of the notification-area icon.
#define IDR_MAINFRAME           128
#define IDI_TRAY_IDLE           129
#define IDI_TRAY_BLINK          130

// The icon's menu
#define IDR_TRAYMENU            130
#define ID_TRAY_SHOW            32778
#define ID_TRAY_EXIT            32780

// Strings. The title has the framework's title id, so its message boxes use it too.
#define IDS_APP_TITLE           57344
#define IDS_TIP_ON              61204
#define IDS_TIP_OFF             61205
#define IDS_EXIT_CONFIRM        32777
