// hook/proxy_settings.cpp
#include "hook/proxy_settings.h"

#include "hook/never_destroyed.h"

namespace hook {

namespace {

// Written once in the loader's call, before any hook is installed; only read
// afterwards.
ProxyServer& Server()
{
    static NeverDestroyed<ProxyServer> server;
    return server.Get();
}

}  // namespace

void SetProxyServer(const ProxyServer& server)
{
    Server() = server;
}

const ProxyServer& GetProxyServer()
{
    return Server();
}

}  // namespace hook
