#!/usr/bin/env python3
"""The demo: miyo-intro.exe under Wine, through its launch branch, against the stand-in.

Usage: demo.py BUILD_DIR OUT_DIR   (tools/demo builds and calls this)
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import winenv  # noqa: E402

KEY_NAMES = {0x11: "Ctrl", 0xBF: "VK_OEM_2 (/)", 0x2E: "Delete", 0x56: "V", 0x74: "F5"}


def main():
    build_dir, out_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    exe = os.path.join(build_dir, "miyo-intro.exe")
    os.makedirs(out_dir, exist_ok=True)
    shot = os.path.join(out_dir, "demo.png")
    cropped = os.path.join(out_dir, "demo-windows.png")  # the desktop's plain border trimmed

    try:
        return show(build_dir, exe, shot, cropped)
    except winenv.CannotRun as why:
        print(f"demo: cannot run here: {why}")
        return 3


DESKTOP = "miyo-demo,1024x768"
# The console's font. Wine's console gives every character one cell as wide as the
# font's widest glyph when the code page is a double-byte one (932), where Windows gives
# a Japanese character two half-width cells: with IPAGothic, whose widest glyph is half
# as wide again as its Japanese ones, every character then stands apart. UmePlus
# Gothic's widest glyph is its Japanese width, so Japanese text reads as it does on
# Windows (half-width characters, such as the dots, still take a whole cell). 50 columns
# keep the window on the screen.
CONSOLE_SETTINGS = [("FaceName", "REG_SZ", "UmePlus Gothic"), ("FontSize", "REG_DWORD", str(16 << 16)),
                    ("WindowSize", "REG_DWORD", str(12 << 16 | 50)),
                    ("ScreenBufferSize", "REG_DWORD", str(150 << 16 | 50))]
# Run in a console window of its own: the output goes to a file as well, for the
# transcript printed here, and the console stays open for the screenshot.
BATCH = """@echo off
title miyo-intro
"{exe}" > "{transcript}"
echo %ERRORLEVEL% > "{status}"
type "{transcript}"
pause > nul
"""


def show(build_dir, exe, shot, cropped):
    with winenv.Session() as session:
        session.require(exe)
        case = e2e.Case(session, build_dir, "demo")
        case.install_standin()
        for name, kind, value in CONSOLE_SETTINGS:
            session.run([winenv.WINE64_LOADER, "reg", "add", "HKCU\\Console", "/v", name, "/t", kind, "/d", value, "/f"],
                        timeout=60)
        print(f"Running {winenv.describe(exe)} (ANSI code page 932)")
        print(f"in a console window on Wine's virtual desktop {DESKTOP}.")
        print("TALMERINE is not running yet; the stand-in opens its window 1.5 s after it is started.\n")
        transcript, status_file = case.log_path("transcript"), case.log_path("status")
        batch = os.path.join(case.work, "demo.bat")
        with open(batch, "w", newline="\r\n") as f:
            f.write(BATCH.format(exe=winenv.windows_path(exe), transcript=winenv.windows_path(transcript),
                                 status=winenv.windows_path(status_file)))
        # Every program of the demo on the same virtual desktop, which draws title bars.
        session.popen([winenv.WINE64_LOADER, "explorer", f"/desktop={DESKTOP}", "wineconsole",
                       "cmd", "/c", winenv.windows_path(batch)],
                      case.standin_env("standin", delay_ms=1500, left=160, top=230), stdin=subprocess.DEVNULL,
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        while not os.path.exists(status_file) and time.monotonic() < deadline:
            time.sleep(0.2)
        # The log is read once the stand-in has logged all 12 keys, or has had its time.
        deadline = time.monotonic() + 10
        while len(e2e.Log(case.log_path("standin")).keys()) < 12 and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(1.5)  # the console draws the transcript
        status = int(open(status_file).read().strip() or -1) if os.path.exists(status_file) else None
        out = open(transcript, "rb").read() if os.path.exists(transcript) else b""
        log = e2e.Log(case.log_path("standin"))
        grab = subprocess.run(f"xwd -root -display {session.env['DISPLAY']} | convert xwd:- '{shot}' && "
                              f"convert '{shot}' -trim +repage '{cropped}'", shell=True, timeout=60)

    print("Transcript (code page 932 shown as UTF-8):")
    for line in out.decode("cp932", errors="replace").split("\r\n")[:-1]:
        print("  " + line)
    print(f"Exit status: {status}\n")

    keys = log.all("key")
    print(f"Key events received by TALMERINE ({len(keys)}):")
    start = keys[0][0] if keys else 0
    for tick, f in keys:
        vk = int(f["vk"], 16)
        print(f"  +{tick - start:4d} ms  {f['msg']:<10} {KEY_NAMES.get(vk, hex(vk)):<13} "
              f"vk=0x{vk:02X} scan=0x{f['scan']}")
    for _, f in log.all("paste"):
        text = bytes.fromhex(f["text"]).decode("cp932", errors="replace") if f["text"] != "none" else "(none)"
        unicode = bytes.fromhex(f["unicode"]).decode("utf-16-le", errors="replace") if f["unicode"] != "none" else "(none)"
        print(f"Pasted text (CF_TEXT): {text}")
        print(f"Pasted text as a Unicode application reads it (CF_UNICODETEXT, CF_LOCALE {f['locale']}): {unicode}")
    if grab.returncode == 0 and os.path.exists(shot):
        print(f"\nScreenshot of TALMERINE and the program's console after F5: {shot} (cropped: {cropped})")
    else:
        print("\nThe screenshot could not be taken (xwd and convert are needed).")
    if status is None:
        print("demo: the program did not finish within 120 s")
        return 124
    return status


if __name__ == "__main__":
    sys.exit(main())
