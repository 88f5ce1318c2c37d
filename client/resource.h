// client/resource.h
// Resource, control and command ids of the configuration program. The numbers
// are fixed: the pages, the tray program and tests find things by them.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX            100
#define IDD_KESTREL_DIALOG      102
#define IDD_STATUS_PAGE         130
#define IDD_PROGRAM_LIST_PAGE   131
#define IDD_SERVER_PAGE         132
#define IDD_HOME_PAGE           133

// Icon, menu, bitmap
#define IDI_KESTREL             128
#define IDR_MAINMENU            129
#define IDB_LOGO                145

// Strings
#define IDS_ABOUTBOX            101
#define IDS_TAB_STATUS          102
#define IDS_TAB_PROGRAMS        103
#define IDS_TAB_SERVER          104
#define IDS_PRODUCT_NAME        105
#define IDS_VERSION             106
#define IDS_WEB_SITE            107
#define IDS_TEST_FAILED         108
#define IDS_TEST_SUCCEEDED      109
#define IDS_TAB_HOME            110
#define IDS_HOME_UNAVAILABLE    111

// Commands. The View items share their numbers with the tab label strings.
#define IDM_ABOUTBOX            16
#define ID_VIEW_STATUS          102
#define ID_VIEW_PROGRAMS        103
#define ID_VIEW_SERVER          104
#define ID_VIEW_HOME            110
#define ID_HELP_ONLINE          32772
#define ID_APP_EXIT             32774

// Main window
#define IDC_PAGE_TAB            1039

// Program list page
#define IDC_ADD_PROGRAM         1007
#define IDC_DELETE_PROGRAM      1008
#define IDC_PROGRAM_LIST        1009
#define IDC_APPLY_ALL           1023
#define IDC_APPLY_LIST          1024

// Server page
#define IDC_SERVER_ADDRESS      1010
#define IDC_SERVER_PORT         1011
#define IDC_USER_NAME           1012
#define IDC_PASSWORD            1013
#define IDC_TEST_SERVER         1014
#define IDC_APPLY_SERVER        1015
#define IDC_SOCKS4              1026
#define IDC_SOCKS5              1027
#define IDC_SERVER_NOTE         1038

// Status page
#define IDC_ENABLE_ON           1018
#define IDC_ENABLE_OFF          1019
#define IDC_WEB_LINK            1029

// Home page
#define IDC_BROWSER             1037
