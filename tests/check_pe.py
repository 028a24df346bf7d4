#!/usr/bin/env python3
"""Checks the built program's PE header: usage: check_pe.py OBJDUMP EXE ARCH

ARCH is i386 or x86-64. The program must be a console program of that architecture,
stripped, importing only system DLLs (the C and C++ runtimes are linked in)."""
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"}


def main():
    objdump, exe, arch = sys.argv[1:4]
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=60).stdout
    symbols = subprocess.run([objdump, "-t", exe], capture_output=True, text=True, timeout=60).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line}
    fmt = {"i386": "pei-i386", "x86-64": "pei-x86-64"}[arch]
    magic = {"i386": "(PE32)", "x86-64": "(PE32+)"}[arch]
    checks = [
        (f"file format {fmt}", f"file format {fmt}" in headers),
        (f"Magic {magic}", any(l.startswith("Magic") and magic in l for l in headers.splitlines())),
        ("console subsystem (Windows CUI)", "(Windows CUI)" in headers),
        (f"imports only {sorted(ALLOWED_DLLS)}, got {sorted(dlls)}", bool(dlls) and dlls <= ALLOWED_DLLS),
        ("imports KERNEL32, USER32 and SHELL32", {"kernel32.dll", "user32.dll", "shell32.dll"} <= dlls),
        ("stripped: no symbol table", "no symbols" in symbols),
    ]
    failed = 0
    for what, ok in checks:
        print(("ok   " if ok else "FAIL ") + what)
        failed += not ok
    print(f"{len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
