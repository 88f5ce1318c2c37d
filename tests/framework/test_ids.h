// tests/framework/test_ids.h
#pragma once

#define IDD_TEST_MODAL      200
#define IDD_TEST_PAGE       210
#define IDD_TEST_MISSING    299
#define IDC_TEST_EDIT       201
#define IDC_TEST_BUTTON     202
#define IDC_TEST_TAB        203
#define IDC_TEST_PAGE_EDIT  211
#define IDS_TEST_SHORT      220
#define IDS_TEST_253        221
#define IDS_TEST_254        222
#define IDS_TEST_255        223
#define IDS_TEST_600        224
#define IDS_TEST_MISSING    229
