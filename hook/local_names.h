// hook/local_names.h
// Which names a covered program still resolves itself: those that mean this
// machine or its own network, which a proxy elsewhere cannot know. They are
// "localhost" and names under it, the computer's own names, single-label
// names (a local network's hosts, found by its own means) and ".local"
// names (multicast DNS). Numeric addresses need no resolving at all.
#pragma once

#include <string>
#include <vector>

namespace hook {

// Text the system reads as an address, not a name: anything with a colon
// (IPv6) and the IPv4 forms inet_addr accepts ("1.2.3.4", "10.1",
// "0x7f.1", a lone number).
bool IsNumericHost(const std::string& host);

// `ownNames`: the computer's names, any case.
bool IsLocalName(const std::string& host, const std::vector<std::string>& ownNames);

// The computer's names, read once when the library starts.
void LearnOwnNames();
const std::vector<std::string>& OwnNames();

}  // namespace hook
