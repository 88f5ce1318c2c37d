#!/usr/bin/env python3
# tests/proxy/delay_import.py lib NM DLLTOOL IMPORT_LIBRARY OUTPUT
# tests/proxy/delay_import.py fix EXE NM OBJDUMP
# The delay-loaded variant of the proxy tests' client, as a program linked
# with Microsoft's /DELAYLOAD:ws2_32.dll is. "lib" makes the delay-import
# library with dlltool from the names in MinGW's ws2_32 import library.
# "fix": GNU ld 2.40 links dlltool's descriptor but leaves the PE's
# delay-import directory entry empty, which Microsoft's linker fills in and a
# hook may walk; this fills it in (the zero descriptor after it comes from
# proxy_client.cpp's ".text$2z") and checks that ws2_32.dll is delay-imported
# (objdump 2.40 shows the entry, not the table) and not imported.
import os
import re
import struct
import subprocess
import sys


def make_library(nm, dlltool, library, output):
    symbols = subprocess.run([nm, "-g", library], capture_output=True, text=True,
                             check=True).stdout
    names = sorted(set(re.findall(r" I __imp_(\S+)", symbols)))
    # 32-bit names are decorated (_name@N) and exported bare.
    decorated = any("@" in name for name in names)
    if decorated:
        names = [name[1:] if name.startswith("_") else name for name in names]
    definition = output + ".def"
    with open(definition, "w") as f:
        f.write("LIBRARY ws2_32.dll\nEXPORTS\n" + "\n".join(names) + "\n")
    subprocess.run([dlltool] + (["-k"] if decorated else []) +
                   ["--input-def", definition, "--output-delaylib", output,
                    "--dllname", "ws2_32.dll"], check=True)
    os.remove(definition)


if sys.argv[1] == "lib":
    make_library(*sys.argv[2:6])
    sys.exit(0)
exe, nm, objdump = sys.argv[2:5]
data = bytearray(open(exe, "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
optional = pe + 24
wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
base = struct.unpack_from("<Q" if wide else "<I", data, optional + (24 if wide else 28))[0]
symbols = subprocess.run([nm, exe], capture_output=True, text=True, check=True).stdout
descriptor = [int(line.split()[0], 16) - base for line in symbols.splitlines()
              if "__DELAY_IMPORT_DESCRIPTOR_" in line]
end = [int(line.split()[0], 16) - base for line in symbols.splitlines()
       if "kDelayImportEnd" in line]
if len(descriptor) != 1 or end != [descriptor[0] + 32]:
    sys.exit("delay_import.py: no single delay-import descriptor ended by a zero one in " + exe)
directory = optional + (112 if wide else 96) + 13 * 8
struct.pack_into("<II", data, directory, descriptor[0], 64)
open(exe, "wb").write(data)

dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
entry = re.search(r"Entry d ([0-9a-f]+) [0-9a-f]+ Delay Import Directory", dump)
if (entry is None or int(entry.group(1), 16) != descriptor[0] or
        re.search(r"DLL Name: ws2_32", dump, re.I)):
    sys.exit("delay_import.py: ws2_32.dll is not delay-imported alone in " + exe)
