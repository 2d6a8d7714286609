#!/usr/bin/env python3
"""Checks that a Windows build is a console program of the given format that
imports nothing but DLLs every Windows has.

usage: check_imports.py OBJDUMP EXE FORMAT (pei-i386 or pei-x86-64)"""
import re
import subprocess
import sys

ALLOWED = {"kernel32.dll", "msvcrt.dll"}

objdump, exe, pe_format = sys.argv[1:4]
headers = subprocess.run([objdump, "-p", exe], check=True,
                         capture_output=True, text=True).stdout
dlls = set(re.findall(r"DLL Name: (\S+)", headers))
faults = []
if f"file format {pe_format}\n" not in headers:
    faults.append(f"not of format {pe_format}")
if not re.search(r"Subsystem\s+00000003", headers):
    faults.append("not a console program")
if not dlls or not {d.lower() for d in dlls} <= ALLOWED:
    faults.append(f"imports {sorted(dlls)}, wanted only {sorted(ALLOWED)}")
print("\n".join(faults) or f"{pe_format} console program importing {sorted(dlls)}")
sys.exit(1 if faults else 0)
