#!/usr/bin/env python3
"""Checks the built program's PE header: usage: check_pe.py OBJDUMP EXE ARCH VERSION

ARCH is i386 or x86-64. The program must be a console program of that architecture,
stripped, importing only system DLLs (the C and C++ runtimes are linked in), with no
time stamp in its header, version information of VERSION in Japanese and English, and
an embedded manifest that runs it as the invoking user on Windows 7 to 11."""
import struct
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll"}


RT_VERSION, RT_MANIFEST = 16, 24
SUPPORTED_OS = {
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def resources(data):
    """{(type id, name id): bytes} from the resource directory, read from the file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections_count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        vsize, va, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
        sections.append((va, max(vsize, raw_size), raw_at))

    def offset(rva):
        for va, size, raw_at in sections:
            if va <= rva < va + size:
                return raw_at + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    if not rsrc_rva:
        return {}
    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            ident, value = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            yield ident, value

    found = {}
    for type_id, type_dir in entries(0):
        for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
            for _, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(type_id, name_id)] = data[offset(rva):offset(rva) + size]
    return found


def _fixed_version(info):
    """FILEVERSION of VS_FIXEDFILEINFO, as four numbers."""
    at = info.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", info, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main():
    objdump, exe, arch, version = sys.argv[1:5]
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=60).stdout
    symbols = subprocess.run([objdump, "-t", exe], capture_output=True, text=True, timeout=60).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line}
    fmt = {"i386": "pei-i386", "x86-64": "pei-x86-64"}[arch]
    magic = {"i386": "(PE32)", "x86-64": "(PE32+)"}[arch]
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    found = resources(data)
    info = found.get((RT_VERSION, 1), b"")
    manifest = found.get((RT_MANIFEST, 1), b"").decode("utf-8", errors="replace")

    def string_table(table):
        # A StringTable: wLength, wValueLength, wType, then its key ("041104B0") and its
        # strings, all within wLength bytes: a field of the next table is not this one's.
        at = info.find(table.encode("utf-16-le") + b"\0\0")
        if at < 6:
            return b""
        return info[at - 6:at - 6 + struct.unpack_from("<H", info, at - 6)[0]]

    def has_string(table, key, value):
        # A String entry: its key, NUL, padding to 4 bytes, then the value and NUL.
        block = string_table(table)
        key_at = block.find(key.encode("utf-16-le") + b"\0\0")
        return key_at >= 0 and (value + "\0").encode("utf-16-le") in block[key_at:key_at + 512]

    checks = [
        (f"file format {fmt}", f"file format {fmt}" in headers),
        ("no time stamp in the PE header", struct.unpack_from("<I", data, pe + 8)[0] == 0),
        ("version information is resource 1", bool(info)),
        (f"fixed file version {version}.0",
         _fixed_version(info) == tuple(int(v) for v in version.split(".")) + (0,)),
        *[(f"{table} {key} = {value}", has_string(table, key, value))
          for table in ("041104B0", "040904B0")
          for key, value in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "miyo-intro"),
                             ("OriginalFilename", "miyo-intro.exe"))],
        *[(f"{table} has FileDescription and LegalCopyright",
           all((k + "\0").encode("utf-16-le") in string_table(table) for k in ("FileDescription", "LegalCopyright")))
          for table in ("041104B0", "040904B0")],
        ("Japanese description in the 041104B0 table", "TALMERINE に".encode("utf-16-le") in string_table("041104B0")),
        ("manifest is resource 1", bool(manifest)),
        ('manifest: requestedExecutionLevel level="asInvoker"', 'level="asInvoker"' in manifest),
        *[(f"manifest: supportedOS {name}", guid in manifest) for name, guid in SUPPORTED_OS.items()],
        ("manifest: no DPI or code page settings", "dpiAware" not in manifest and "activeCodePage" not in manifest),
        (f"Magic {magic}", any(l.startswith("Magic") and magic in l for l in headers.splitlines())),
        ("console subsystem (Windows CUI)", "(Windows CUI)" in headers),
        (f"imports only {sorted(ALLOWED_DLLS)}, got {sorted(dlls)}", bool(dlls) and dlls <= ALLOWED_DLLS),
        ("imports KERNEL32, USER32, SHELL32 and ADVAPI32", {"kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll"} <= dlls),
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
