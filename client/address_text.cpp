// client/address_text.cpp
#include "client/address_text.h"

#include <cstring>

int GetOctet(const char* address, int n)
{
    const char* field = address;
    for (int i = 0; i < n; ++i) {
        // The search starts one character into the field; an empty text has
        // no such character.
        if (*field == '\0')
            return 0;
        const char* dot = std::strchr(field + 1, '.');
        if (!dot)
            return 0;
        field = dot + 1;
    }
    // Only the low 8 bits count, so they are all that is kept of a long number.
    unsigned value = 0;
    for (; *field >= '0' && *field <= '9'; ++field)
        value = (value * 10 + static_cast<unsigned>(*field - '0')) & 0xFFu;
    return static_cast<int>(value);
}
