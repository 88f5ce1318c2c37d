// client/about_dlg.cpp
#include "client/about_dlg.h"

#include "client/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
