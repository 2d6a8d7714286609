#!/usr/bin/env python3
"""Checks that a Windows build is a console program of the given format that
imports nothing but DLLs every Windows has, and that it carries its manifest
(UTF-8 as its code page) and the project's version.

usage: check_exe.py OBJDUMP WINDRES EXE FORMAT VERSION
FORMAT is pei-i386 or pei-x86-64; VERSION is the project's, as 1.2.3."""
import re
import subprocess
import sys

ALLOWED = {"kernel32.dll", "msvcrt.dll"}

objdump, windres, exe, pe_format, version = sys.argv[1:6]
headers = subprocess.run([objdump, "-p", exe], check=True,
                         capture_output=True, text=True).stdout
# windres fails on a program without resources: then all of them are missing.
resources = subprocess.run([windres, "-i", exe, "-O", "rc"],
                           capture_output=True, text=True).stdout
dlls = set(re.findall(r"DLL Name: (\S+)", headers))
faults = []
if f"file format {pe_format}\n" not in headers:
    faults.append(f"not of format {pe_format}")
if not re.search(r"Subsystem\s+00000003", headers):
    faults.append("not a console program")
if not dlls or not {d.lower() for d in dlls} <= ALLOWED:
    faults.append(f"imports {sorted(dlls)}, wanted only {sorted(ALLOWED)}")
if not re.search(r"<activeCodePage [^>]*>UTF-8</activeCodePage>", resources):
    faults.append("no manifest that asks for UTF-8")
numbers = ", ".join(version.split(".") + ["0"])
for wanted in (f"FILEVERSION {numbers}\n", f"PRODUCTVERSION {numbers}\n",
               f'"FileVersion", "{version}"', f'"ProductVersion", "{version}"'):
    if wanted not in resources:
        faults.append(f"version resource lacks {wanted.strip()}")
print("\n".join(faults) or f"{pe_format} console program importing {sorted(dlls)}, "
      f"UTF-8 manifest, version {version}")
sys.exit(1 if faults else 0)
