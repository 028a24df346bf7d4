#!/usr/bin/env python3
"""tools/release from two clean checkouts of the same commit, in folders of different
depth: the zips must be the same, byte for byte, and hold what a user needs. A work
tree with uncommitted changes must be refused, leaving no zip behind.

The zips are of the last commit; the guide in the work tree is checked as well, so that
an uncommitted edit of it is seen too.

Usage: reproducible.py SOURCE_DIR WORK_DIR
"""
import glob
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "host"))
from check_texts import EXPECTED as TEXTS  # noqa: E402

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
    commit_time = int(git("log", "-1", "--format=%ct", commit, cwd=source).stdout.strip())
    dirty = git("status", "--porcelain", cwd=source).stdout.splitlines()
    print(f"   the zips are made from commit {commit[:12]}"
          + (f"; {len(dirty)} uncommitted change(s) in {source} are not in them" if dirty else ""), flush=True)
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
        # A zip holds even seconds in local-time fields, written here as UTC.
        stamp = time.gmtime(commit_time)[:5] + (time.gmtime(commit_time)[5] // 2 * 2,)
        times = {i.date_time for i in z.infolist()}
        check(all(i.create_system == 0 for i in z.infolist()) and times == {stamp},
              f"members carry no Unix mode and the commit's time {stamp} (got {sorted(times)})")
    built = open(os.path.join(checkouts[0], "build", "release", "miyo-intro.exe"), "rb").read()
    check(members.get("miyo-intro.exe") == built and built[:2] == b"MZ", "the exe is the one built")
    guide = members.get("README-ja.txt", b"")
    check(guide.startswith(b"\xef\xbb\xbf") and b"\n" not in guide.replace(b"\r\n", b""),
          "the guide is UTF-8 with a byte order mark and CR LF line ends, for Notepad")
    text = guide.decode("utf-8", errors="replace")
    with open(os.path.join(source, "release", "README-ja.txt"), encoding="utf-8") as f:
        work_tree_text = f.read()
    # Every message the program can write (its texts as compiled are checked against the
    # same list), and what a user must find besides.
    messages = [t.rstrip("\n") for name, (t, _) in TEXTS.items() if name.startswith("MSG_") and len(t.strip()) > 1]
    for needed in messages + ["使い方", "C:\\Program Files\\Kyt\\Talmerine\\Talmerine.exe", "（終了コード 0）",
                              "（終了コード 1）", "（終了コード 2）",
                              "ベータ: ワールドワイド言語サポートで Unicode UTF-8 を使用", "KB2533623", "SmartScreen"]:
        check(needed in text and needed in work_tree_text,
              f"the guide mentions {needed!r}" + ("" if needed in text else " (not in the commit's)")
              + ("" if needed in work_tree_text else " (not in the work tree's)"))
    # The README's 使い方 holds every message too, and every relative link in the README
    # and docs/ leads to a file that exists.
    with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    missing = [m for m in messages if m not in readme]
    check(not missing, f"the README mentions every message (missing: {missing})")
    pages = [os.path.join(source, "README.md")] + glob.glob(os.path.join(source, "docs", "*.md"))
    links = [(page, target) for page in pages for target in re.findall(r"\]\(([^)#\s]+)", open(page, encoding="utf-8").read())
             if not re.match(r"[a-z]+:", target)]
    broken = [f"{os.path.relpath(page, source)} -> {target}" for page, target in links
              if not os.path.exists(os.path.join(os.path.dirname(page), target))]
    check(len(links) >= 8 and not broken, f"{len(links)} relative links in the README and docs/ resolve (broken: {broken})")
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
