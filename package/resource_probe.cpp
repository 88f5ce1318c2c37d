// package/resource_probe.cpp
// Used by scripts/package on the staged files and by the tests on the build's
// own, not shipped: checks that every program carries a manifest asking for
// no elevation and naming Windows 7 to 11, and that every program and
// library carries a version resource matching VERSION.
//   kestrel_resource_probe VERSION FILE...
// One line per file; exit code 0 when all pass, 1 when any fails, 2 for a
// wrong command line.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "package/resource_reader.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fputs("usage: kestrel_resource_probe VERSION FILE...\n", stderr);
        return 2;
    }
    const std::vector<std::wstring> paths(argv + 2, argv + argc);
    const int result = ProbeFiles(Utf8FromWide(argv[1]), paths, std::cout);
    std::cout.flush();
    return result;
}
