#!/usr/bin/env python3
"""Checks that a Windows build is a 32-bit x86 console program that imports
nothing but DLLs every Windows has: usage: check_imports.py OBJDUMP EXE"""
import re
import subprocess
import sys

ALLOWED = {"kernel32.dll", "msvcrt.dll"}

headers = subprocess.run([sys.argv[1], "-p", sys.argv[2]], check=True,
                         capture_output=True, text=True).stdout
dlls = set(re.findall(r"DLL Name: (\S+)", headers))
faults = []
if "file format pei-i386" not in headers:
    faults.append("not a 32-bit x86 program")
if not re.search(r"Subsystem\s+00000003", headers):
    faults.append("not a console program")
if not dlls or not {d.lower() for d in dlls} <= ALLOWED:
    faults.append(f"imports {sorted(dlls)}, wanted only {sorted(ALLOWED)}")
print("\n".join(faults) or f"console program for i386 importing {sorted(dlls)}")
sys.exit(1 if faults else 0)
