// client/home_page.h
#pragma once

#include "framework/dialog.h"

// The page that shows the product's client page from the web site.
class CHomePage : public CDialog {
public:
    CHomePage();
};
