// hook/name_resolution.h
// Whether a lookup of the program's is answered in process, with a reserved
// address that the proxy later turns back into the name, and the numeric text
// that then stands in for the name in the system's own lookup call: the
// system still builds the result (its hints, service, memory), and numeric
// text sends nothing to any name server.
#pragma once

#include <winsock2.h>

#include <string>

#include "hook/name_table.h"

namespace hook {

// A name in the form a SOCKS request carries it: an internationalised name
// in its ASCII ("xn--") form. Empty when it has none.
std::string AsciiName(const wchar_t* name);
// The same from text in the ANSI code page.
std::string AsciiName(const char* name);

// True when the proxy resolves `name` (ASCII): a SOCKS 5 server is set, and
// the name is neither numeric nor one of this machine's own.
bool ProxyResolves(const std::string& name);

// The form of reserved address a lookup of this family and these flags is
// answered with; false for a family that has none (the system then answers).
bool FormFor(int family, int flags, AddressForm& form);

// Flags for the system's call on the numeric text: those that widen a lookup
// to other families or hold it back for want of an interface mean nothing
// for an address the library made up.
int NumericFlags(int flags);

// The numeric text standing for `name` in `form`, or empty when the name
// cannot be carried (too long for a SOCKS request, or the table is out of
// memory): the lookup then fails as for an unknown name.
std::string StandIn(const std::string& name, AddressForm form);

std::wstring Widen(const std::string& ascii);

}  // namespace hook
