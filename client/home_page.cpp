// client/home_page.cpp
#include "client/home_page.h"

#include "client/resource.h"

CHomePage::CHomePage() : CDialog(IDD_HOME_PAGE) {}
