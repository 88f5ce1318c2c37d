// client/open_url.h
#pragma once

#include <cstddef>

// Size of the buffer that holds the quoted address for the browser.
constexpr std::size_t kExplorerParameterSize = 2084;

// The parameter for explorer.exe: text itself when it already starts with a
// double quote, otherwise text between double quotes, copied into buffer.
// Null when text is missing or its quoted form does not fit the buffer.
const char* ExplorerParameter(const char* text, char (&buffer)[kExplorerParameterSize]);

// Opens text (an address) with explorer.exe. False when text is missing or
// too long; whether the browser really starts is not known here.
bool OpenUrlWithExplorer(const char* text);
