// framework/framework_res.h
// String ids of the framework's own messages. Every program (and test) that
// uses data validation includes framework/framework.rc in its resources.
#pragma once

// The program's title; where a program has none, its file name stands in.
#define IDS_FRAMEWORK_APP_TITLE         57344
#define IDP_FRAMEWORK_PARSE_INT         61712
#define IDP_FRAMEWORK_PARSE_INT_RANGE   61714
#define IDP_FRAMEWORK_PARSE_STRING_SIZE 61716
