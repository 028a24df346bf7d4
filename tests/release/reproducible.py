#!/usr/bin/env python3
"""tools/release from two clean checkouts of the same commit, in folders of different
depth: the zips must be the same, byte for byte, and hold what a user needs. A work
tree with uncommitted changes must be refused, leaving no zip behind.

Usage: reproducible.py SOURCE_DIR WORK_DIR
"""
import hashlib
import io
import os
import shutil
import subprocess
import sys
import zipfile

passed = failed = 0


def check(ok, what):
    global passed, failed
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    passed += bool(ok)
    failed += not ok
    return ok


def git(*args, cwd):
    return subprocess.run(["git", *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def release(checkout):
    return subprocess.run(["tools/release", "--skip-install"], cwd=checkout, capture_output=True,
                          text=True, timeout=600)


def main():
    source, work = sys.argv[1:3]
    head = git("rev-parse", "HEAD", cwd=source)
    if head.returncode != 0:
        print(f"FAIL {source} is not a git checkout: a release is made from a commit ({head.stderr.strip()})")
        return 1
    commit = head.stdout.strip()
    shutil.rmtree(work, ignore_errors=True)
    checkouts = [os.path.join(work, "a"), os.path.join(work, "second", "checkout", "b")]
    zips = []
    for checkout in checkouts:
        cloned = git("clone", "--quiet", "--no-checkout", source, checkout, cwd=source)
        git("checkout", "--quiet", commit, cwd=checkout)
        made = release(checkout)
        print(made.stdout + made.stderr, end="")
        dist = os.path.join(checkout, "dist")
        found = sorted(os.listdir(dist)) if os.path.isdir(dist) else []
        check(cloned.returncode == 0 and made.returncode == 0 and len(found) == 1 and found[0].endswith("-win32.zip"),
              f"tools/release in {checkout}: exit {made.returncode}, dist holds {found}")
        zips.append(open(os.path.join(dist, found[0]), "rb").read() if len(found) == 1 else b"")
        if len(found) == 1:
            check(made.stdout.splitlines()[-2:] == [f"dist/{found[0]}",
                                                     f"SHA-256 {hashlib.sha256(zips[-1]).hexdigest()}"],
                  "it prints the zip's path and its SHA-256 last")
    digests = [hashlib.sha256(z).hexdigest() for z in zips]
    check(zips[0] and zips[0] == zips[1], f"the two zips are the same, byte for byte ({digests})")

    with zipfile.ZipFile(io.BytesIO(zips[0])) as z:
        names = z.namelist()
        check(names == ["miyo-intro.exe", "README-ja.txt", "SHA256SUMS"], f"members in order: {names}")
        members = {n: z.read(n) for n in names}
        check(all(i.create_system == 0 and i.date_time >= (1980, 1, 1, 0, 0, 0) for i in z.infolist()),
              "members carry no Unix mode and a fixed time")
    built = open(os.path.join(checkouts[0], "build", "release", "miyo-intro.exe"), "rb").read()
    check(members.get("miyo-intro.exe") == built and built[:2] == b"MZ", "the exe is the one built")
    guide = members.get("README-ja.txt", b"")
    check(guide.startswith(b"\xef\xbb\xbf") and b"\n" not in guide.replace(b"\r\n", b""),
          "the guide is UTF-8 with a byte order mark and CR LF line ends, for Notepad")
    text = guide.decode("utf-8", errors="replace")
    for needed in ("使い方", "C:\\Program Files\\Kyt\\Talmerine\\Talmerine.exe", "終了（終了コード 0）",
                   "ミヨが見つからない（終了コード 1）", "Error: キーが押されたまま（終了コード 2）",
                   "Error: 既に実行中（終了コード 2）", "Error: ミヨが応答しない（終了コード 2）",
                   "ミヨの応答を待っています", "Error: code page for non-Unicode programs is",
                   "ベータ: ワールドワイド言語サポートで Unicode UTF-8 を使用", "KB2533623", "SmartScreen"):
        check(needed in text, f"the guide mentions {needed}")
    sums = members.get("SHA256SUMS", b"").decode("ascii", errors="replace").splitlines()
    want = [f"{hashlib.sha256(members.get(n, b'')).hexdigest()}  {n}" for n in ("miyo-intro.exe", "README-ja.txt")]
    check(sums == want, f"SHA256SUMS lists the exe and the guide: {sums}")

    # Refused with uncommitted changes: exit 1, says why, no zip and no partial file.
    dirty = checkouts[0]
    shutil.rmtree(os.path.join(dirty, "dist"))
    with open(os.path.join(dirty, "README.md"), "a") as f:
        f.write("\nuncommitted\n")
    refused = release(dirty)
    check(refused.returncode == 1 and "uncommitted changes" in refused.stderr,
          f"a dirty work tree is refused: exit {refused.returncode}, {refused.stderr.splitlines()[:1]}")
    check(not os.path.exists(os.path.join(dirty, "dist")), "and nothing was written to dist/")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
