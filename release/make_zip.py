#!/usr/bin/env python3
"""Writes the release zip: the exe, the Japanese guide and SHA256SUMS, byte for byte the
same from the same inputs.

Usage: make_zip.py EXE GUIDE OUT_ZIP   (SOURCE_DATE_EPOCH gives the members' time)

The guide goes in as UTF-8 with a byte order mark and CR LF line ends, which every
Notepad since Windows 7 shows correctly. Member names are ASCII: Windows' own zip
folders read names in the ANSI code page and ignore the UTF-8 flag on older systems.
"""
import hashlib
import os
import sys
import time
import zipfile

EXE_NAME = "miyo-intro.exe"
GUIDE_NAME = "README-ja.txt"
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can hold


def guide_bytes(path):
    text = open(path, encoding="utf-8").read()
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def member(name, when):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(when)[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0      # MS-DOS: no Unix owner or mode bits
    info.external_attr = 0x20   # FILE_ATTRIBUTE_ARCHIVE, as Windows writes it
    return info


def main():
    exe_path, guide_path, out = sys.argv[1:4]
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch or not epoch.isdigit():
        sys.exit("make_zip.py: SOURCE_DATE_EPOCH (the commit's time) must be set")
    when = max(int(epoch), ZIP_EPOCH)
    exe = open(exe_path, "rb").read()
    guide = guide_bytes(guide_path)
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in ((EXE_NAME, exe), (GUIDE_NAME, guide))).encode("ascii")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as z:
        for name, data in ((EXE_NAME, exe), (GUIDE_NAME, guide), ("SHA256SUMS", sums)):
            z.writestr(member(name, when), data, compresslevel=9)
    os.replace(partial, out)  # never a half-written zip under the real name
    digest = hashlib.sha256(open(out, "rb").read()).hexdigest()
    print(out)
    print(f"SHA-256 {digest}")


if __name__ == "__main__":
    main()
