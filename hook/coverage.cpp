// hook/coverage.cpp
#include "hook/coverage.h"

namespace hook {

namespace {

ProxyServer ServerOf(const injection::Handoff& handoff)
{
    ProxyServer server;
    server.usable = handoff.serverUsable;
    server.endpoint.address = handoff.address;
    server.endpoint.port = handoff.port;
    server.type = handoff.type;
    server.user = handoff.user;
    server.password = handoff.password;
    return server;
}

}  // namespace

Coverage DecideCoverage(const HookConfig* config, bool ownListed, const injection::Handoff& parent)
{
    Coverage coverage;
    if (config != nullptr) {
        coverage.covered =
            config->enabled && (config->allPrograms || ownListed || parent.parentCovered);
        coverage.server = config->server;
    } else if (parent.parentCovered) {
        coverage.covered = true;
        coverage.server = ServerOf(parent);
    }
    return coverage;
}

injection::Handoff HandoffForChildren(const ProxyServer& server)
{
    injection::Handoff handoff;
    handoff.parentCovered = true;
    handoff.enabled = true;
    handoff.serverUsable = server.usable;
    handoff.address = server.endpoint.address;
    handoff.port = server.endpoint.port;
    handoff.type = static_cast<std::uint8_t>(server.type);
    handoff.user = server.user;
    handoff.password = server.password;
    return injection::Carried(handoff);
}

}  // namespace hook
