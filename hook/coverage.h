// hook/coverage.h
// Whether this process is covered, from what it read of client.db and what
// its parent handed it, and what it hands its own children in turn.
#pragma once

#include "hook/hook_config.h"
#include "injection/handoff.h"

namespace hook {

struct Coverage {
    bool covered = false;
    ProxyServer server;
};

// config: what this process read from client.db, or null when it could not
// read it. ownListed: this program's own path is in config's program list.
// A child of a covered parent is covered wherever the list applies; one that
// cannot read the database uses its parent's server rather than run
// uncovered.
Coverage DecideCoverage(const HookConfig* config, bool ownListed, const injection::Handoff& parent);

// What a covered process hands the children it starts.
injection::Handoff HandoffForChildren(const ProxyServer& server);

}  // namespace hook
