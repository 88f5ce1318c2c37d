// hook/proxy_settings.h
// The proxy server this process uses, fixed when the library is loaded: a
// running program keeps what it read at its start.
#pragma once

#include "hook/hook_config.h"

namespace hook {

void SetProxyServer(const ProxyServer& server);
const ProxyServer& GetProxyServer();

}  // namespace hook
