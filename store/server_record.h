// store/server_record.h
#pragma once

#include <string>

// The proxy server as the Server table's 'SingleServer' row holds it. Text is
// in the ANSI code page; Type is the SOCKS version (4 or 5).
struct ServerRecord {
    std::string IP;
    int Port = 0;
    std::string Username;
    std::string Password;
    int Type = 0;
};
