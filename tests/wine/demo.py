#!/usr/bin/env python3
"""The demo: miyo-intro.exe under Wine, through its launch branch, against the stand-in.

Usage: demo.py BUILD_DIR OUT_DIR [GIF]   (tools/demo builds and calls this)

Records the run as frames of the virtual display and assembles them into GIF (an
animation cropped to the windows, looping), besides a screenshot of the end.
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
    gif = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else os.path.join(out_dir, "demo.gif")
    exe = os.path.join(build_dir, "miyo-intro.exe")
    os.makedirs(out_dir, exist_ok=True)
    shot = os.path.join(out_dir, "demo.png")
    cropped = os.path.join(out_dir, "demo-windows.png")  # the desktop's plain border trimmed

    try:
        return show(build_dir, exe, shot, cropped, gif)
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
# Run in a console window of its own, writing to it as it goes (the launch line and
# the dots); the console's text is then saved for the transcript printed here, and the
# console stays open for the screenshot.
BATCH = """@echo off
title miyo-intro
"{exe}"
set status=%ERRORLEVEL%
"{desktool}" screen "{transcript}"
echo %status% > "{status}"
pause > nul
"""


# A frame of the display this often while the program runs; the last is held longer.
FRAME_SECONDS = 0.25
LAST_FRAME_SECONDS = 3


def grab_frames(display, frames_dir, until):
    """Dumps of the whole display (xwd, fast; converted later) until `until()`."""
    os.makedirs(frames_dir, exist_ok=True)
    for old in os.listdir(frames_dir):
        os.remove(os.path.join(frames_dir, old))
    count = 0
    while not until() and count < 240:
        subprocess.run(["xwd", "-root", "-display", display, "-out", os.path.join(frames_dir, f"{count:03d}.xwd")],
                       timeout=10, stderr=subprocess.DEVNULL)
        count += 1
        time.sleep(FRAME_SECONDS)
    return sorted(os.path.join(frames_dir, f) for f in os.listdir(frames_dir))


def assemble(frames, shot, gif):
    """The frames, cropped to the box the windows fill at the end, as a looping GIF; how
    many it holds (0: none made)."""
    box = subprocess.run(["convert", shot, "-trim", "-format", "%@", "info:"], capture_output=True, text=True,
                         timeout=60).stdout.strip()
    if not frames or not box:
        return 0

    def blank(frame):  # the display before the desktop and the console are drawn
        spread = subprocess.run(["convert", f"xwd:{frame}", "-crop", box, "-format", "%[fx:standard_deviation]",
                                 "info:"], capture_output=True, text=True, timeout=60).stdout
        return float(spread or 0) < 0.02

    while len(frames) > 1 and blank(frames[0]):
        frames = frames[1:]
    delay = round(FRAME_SECONDS * 100)
    command = ["convert", "-loop", "0", "-delay", str(delay)] + [f"xwd:{f}" for f in frames[:-1]]
    command += ["-delay", str(LAST_FRAME_SECONDS * 100), f"xwd:{frames[-1]}", "-crop", box, "+repage",
                "-colors", "128", "-layers", "Optimize", gif]
    return len(frames) if subprocess.run(command, timeout=300).returncode == 0 else 0


def show(build_dir, exe, shot, cropped, gif):
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
            f.write(BATCH.format(exe=winenv.windows_path(exe), desktool=winenv.windows_path(case.desktool_exe),
                                 transcript=winenv.windows_path(transcript), status=winenv.windows_path(status_file)))
        # Every program of the demo on the same virtual desktop, which draws title bars.
        session.popen([winenv.WINE64_LOADER, "explorer", f"/desktop={DESKTOP}", "wineconsole",
                       "cmd", "/c", winenv.windows_path(batch)],
                      case.standin_env("standin", delay_ms=1500, left=160, top=230), stdin=subprocess.DEVNULL,
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        frames = grab_frames(session.env["DISPLAY"], os.path.join(os.path.dirname(shot), "frames"),
                             lambda: os.path.exists(status_file) or time.monotonic() > deadline)
        # The log is read once the stand-in has logged all 12 keys, or has had its time.
        deadline = time.monotonic() + 10
        while len(e2e.Log(case.log_path("standin")).keys()) < 12 and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(1.5)  # the console draws the transcript
        status = int(open(status_file).read().strip() or -1) if os.path.exists(status_file) else None
        screen = open(transcript).read().strip() if os.path.exists(transcript) else ""
        out = bytes.fromhex(screen).decode("utf-16-le", errors="replace").rstrip("\n")
        log = e2e.Log(case.log_path("standin"))
        grab = subprocess.run(f"xwd -root -display {session.env['DISPLAY']} | convert xwd:- '{shot}' && "
                              f"convert '{shot}' -trim +repage '{cropped}'", shell=True, timeout=60)
        last = os.path.join(os.path.dirname(shot), "frames", "last.xwd")
        subprocess.run(["xwd", "-root", "-display", session.env["DISPLAY"], "-out", last], timeout=10)
        frames.append(last)
    animated = grab.returncode == 0 and assemble(frames, shot, gif)

    print("Transcript (the console's text):")
    for line in out.split("\n"):
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
    if animated:
        print(f"The run as an animation ({animated} frames, {os.path.getsize(gif) // 1024} KB): {gif}")
    else:
        print("demo: the animation could not be made")
        return 1
    if status is None:
        print("demo: the program did not finish within 120 s")
        return 124
    return status


if __name__ == "__main__":
    sys.exit(main())
