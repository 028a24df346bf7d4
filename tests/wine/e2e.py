#!/usr/bin/env python3
"""End-to-end cases: the built miyo-intro.exe under Wine against the stand-in TALMERINE.

Usage: e2e.py BUILD_DIR CASE     (CASE: one of CASES below, or "list": each with the
                                  seconds it takes, about)
       E2E_START_DELAY_S=12 e2e.py BUILD_DIR CASE   (the program started 12 s late)

Each case prints every check it made and "N passed, N failed"; a failing case also
prints the program's transcript, its exit status and the stand-in's log. Exit status:
0 all checks passed, 1 a check failed or this machine cannot run the case (said why).

Each case also leaves BUILD_DIR/e2e/CASE/result: what it ran against and how it ended,
which "e2e.py summary BUILD_DIR..." gathers into the line that ends tools/test.
"""
import os
import re
import select
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winenv  # noqa: E402


def console(text):
    """A message as it reaches a pipe: code page 932, each line end as CR LF."""
    return text.replace("\n", "\r\n").encode("cp932")


LAUNCHING = console("星綴ミヨを起動します\n")
LAUNCH_FAILED = console("Error: 実行できない\n")
NOT_FOUND = console("ミヨが見つからない\n")
DONE = console("終了\n")
CLIPBOARD_FAILED = console("Error: クリップボードに書き込めない\n")
KEYS_HELD = console("Error: キーが押されたまま\n")
WAITING = console("ミヨの応答を待っています\n")
NOT_ANSWERING = console("Error: ミヨが応答しない\n")
NOT_FOREGROUND = console("Error: ミヨを前面に出せない\n")
WAITING_FOR_DIALOG = console("ミヨのダイアログが閉じるのを待っています\n")
DIALOG_OPEN = console("Error: ミヨのダイアログが開いたまま\n")
CLIPBOARD_CHANGED = console("Error: 他のプログラムがクリップボードを変えた\n")
WAITING_FOR_OTHER_RUN = console("別の miyo-intro の終了を待っています\n")
WAITING_FOR_FRONT = console("ミヨが前面に出るのを待っています\n")
# Any of the waits of the gate before a step, each its message, dots and line end.
GATE_WAITS = rb"(?:(?:" + rb"|".join(re.escape(m) for m in (WAITING, WAITING_FOR_DIALOG, WAITING_FOR_FRONT)) + rb")\.+\r\n)*"
SENTENCE_TEXT = "星綴ミヨです。本を読むのが好きです。"
SENTENCE = SENTENCE_TEXT.encode("cp932")
# CF_LOCALE as its bytes: LCID 0x0411 (Japanese), little-endian.
JAPANESE_LOCALE_HEX = "11040000"
TITLE = "TALMERINE - ミヨ"
INSTALL_DIR = "C:\\Program Files\\Kyt\\Talmerine"
INSTALLED_EXE = INSTALL_DIR + "\\Talmerine.exe"

# (message, virtual key, set-1 scan code of a US keyboard): what MapVirtualKeyA gives.
EXPECTED_KEYS = [
    ("WM_KEYDOWN", 0x11, 0x1D), ("WM_KEYDOWN", 0xBF, 0x35), ("WM_KEYUP", 0xBF, 0x35), ("WM_KEYUP", 0x11, 0x1D),
    ("WM_KEYDOWN", 0x2E, 0x53), ("WM_KEYUP", 0x2E, 0x53),
    ("WM_KEYDOWN", 0x11, 0x1D), ("WM_KEYDOWN", 0x56, 0x2F), ("WM_KEYUP", 0x56, 0x2F), ("WM_KEYUP", 0x11, 0x1D),
    ("WM_KEYDOWN", 0x74, 0x3F), ("WM_KEYUP", 0x74, 0x3F),
]
# Message delivery can make an interval seen by the window a little shorter than the
# pause the sender slept; the upper bounds are loose, for shared, noisy machines.
EARLY_MS = 5
LATE_MS = 1500
# The pauses timed by the messages' own time stamps (when the system queued them) are
# the program's alone: their bounds catch a pause that lasts what the next one should.
PAUSE_LATE_MS = 300
# Key messages of Shift itself, which the stand-in sees while the test holds it down.
SHIFT_KEYS = {0x10, 0xA0, 0xA1}


def now_ms():
    """The Linux clock that matches GetTickCount inside Wine to the millisecond."""
    return int(time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000)


class Log:
    """The stand-in's log: lines of "<tick> <event> key=value ...". An entry's time is
    the message's own time stamp (at=) where the line has one: when the system queued
    it, which on a busy machine can be well before the window got round to it."""

    def __init__(self, path):
        self.path = path
        self.entries = []
        if os.path.exists(path):
            with open(path, encoding="ascii", errors="replace") as f:
                for line in f:
                    tick, event, *fields = line.split()
                    fields = dict(f.split("=", 1) for f in fields if "=" in f)
                    self.entries.append((int(fields.get("at", tick)), event, fields))

    def all(self, event):
        return [(tick, fields) for tick, e, fields in self.entries if e == event]

    def keys(self):
        """The key events the program sent: those of Shift itself, held by a test, aside."""
        return [(tick, f) for tick, f in self.all("key") if int(f["vk"], 16) not in SHIFT_KEYS]

    def first(self, event):
        found = self.all(event)
        return found[0] if found else (None, {})

    def text(self):
        return open(self.path, errors="replace").read() if os.path.exists(self.path) else "(no log)"


class SetUpFailed(Exception):
    """The case could not set up what it tests; the message says what."""


class Case:
    def __init__(self, session, build_dir, name):
        self.session = session
        self.build_dir = build_dir
        self.exe = os.path.join(build_dir, "miyo-intro.exe")
        self.standin = os.path.join(build_dir, "tests", "standin", "Talmerine.exe")
        self.desktool_exe = os.path.join(build_dir, "tests", "standin", "desktool.exe")
        self.work = os.path.join(build_dir, "e2e", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.install_dir = os.path.join(session.prefix, "drive_c", "Program Files", "Kyt", "Talmerine")
        self.passed = 0
        self.failures = []
        self.evidence = []

    # --- checks -----------------------------------------------------------------------
    def check(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
        return ok

    def equal(self, got, want, what):
        return self.check(got == want, what if got == want else f"{what}: got {got!r}, want {want!r}")

    # --- set-up -----------------------------------------------------------------------
    def install_standin(self, present=True):
        shutil.rmtree(self.install_dir, ignore_errors=True)
        os.makedirs(self.install_dir)
        if present:
            shutil.copy(self.standin, os.path.join(self.install_dir, "Talmerine.exe"))

    def log_path(self, name):
        return os.path.join(self.work, name + ".log")

    def standin_env(self, log, **options):
        env = {"TALMERINE_LOG": winenv.windows_path(self.log_path(log))}
        env.update({"TALMERINE_" + k.upper(): str(v) for k, v in options.items()})
        return env

    def start_standin(self, log, wait_for="window", **options):
        """Starts the installed stand-in as a user would have, and waits for its window."""
        self.session.popen([winenv.WINE64_LOADER, INSTALLED_EXE], self.standin_env(log, **options),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not self.wait_for(log, wait_for, 30):
            # Every check after this would blame the program.
            raise SetUpFailed(f"the stand-in TALMERINE did not log {wait_for!r} within 30 s of its start")

    def settled(self, *logs, seconds=60):
        """The stand-ins' logs once each has handled everything queued before now: they
        are poked, and each answers with "idle" when its queue is empty. Reading a log as
        soon as one line appears would race the lines right after it."""
        poked_at = now_ms()
        self.desktool("poke")
        deadline = time.monotonic() + seconds
        pending = list(logs)
        while pending and time.monotonic() < deadline:
            pending = [name for name in pending
                       if not any(tick >= poked_at for tick, _ in Log(self.log_path(name)).all("idle"))]
            time.sleep(0.05)
        self.check(not pending, f"every stand-in handled what was queued for it ({', '.join(logs)})")
        found = [Log(self.log_path(name)) for name in logs]
        self.evidence.extend(f"{name} log:\n{log.text()}" for name, log in zip(logs, found))
        return found[0] if len(found) == 1 else found

    def wait_for(self, log, event, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if Log(self.log_path(log)).all(event):
                return True
            time.sleep(0.05)
        return False

    def after_first_question(self, ms):
        """Waits until `ms` after the program's first WM_NULL to the stand-in, as the window
        logged it: a time that holds whatever the program's start-up took. False (and a
        failed check) when no question came."""
        asked = self.check(self.wait_for("standin", "null", 60), "the program asked the window (WM_NULL)")
        if asked:
            asked_at, _ = Log(self.log_path("standin")).first("null")
            time.sleep(max(0, asked_at + ms - now_ms()) / 1000)
        return asked

    def desktool(self, *args):
        status, out = self.session.run([winenv.WINE64_LOADER, self.desktool_exe, *args], timeout=30)
        return out.decode("ascii", errors="replace").strip()

    def desktool_running(self, first_line, what, *args):
        """desktool left running, once it has printed `first_line` (it is ready)."""
        proc = self.session.popen([winenv.WINE64_LOADER, self.desktool_exe, *args], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.equal(proc.stdout.readline().decode(errors="replace").strip(), first_line, what)
        return proc

    def program_command(self, exe=None, *args):
        """The program under test; E2E_START_DELAY_S=N starts it N s late, as an emulated
        32-bit start does, to show that a case holds whatever the start-up time."""
        command = self.session.command(exe or self.exe, *args)
        delay = os.environ.get("E2E_START_DELAY_S", "")
        return ["sh", "-c", f'sleep {float(delay)}; exec "$@"', "delayed"] + command if delay else command

    def start_program(self, env=None, exe=None):
        # Standard input at its end: a failure path reads it and ends at once.
        return self.session.popen(self.program_command(exe), env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def finish_program(self, proc, what="", timeout=120):
        """The exit status and the transcript; a run that outlives `timeout` is ended
        by its process id, with status None."""
        status, out = self.session.finish(proc, timeout=timeout)
        self.evidence.append(f"{what}exit status {status}; transcript {out!r} = {out.decode('cp932', 'replace')!r}")
        return status, out

    def xdotool(self, *args):
        status, out = self.session.run(["xdotool", *args], timeout=20)
        return out.decode(errors="replace").strip()

    def hold_shift(self):
        """Shift down on the X display. Wine sees a held key only while one of its
        windows has the X input focus, so the stand-in's window is focused first."""
        windows = self.xdotool("search", "--name", "TALMERINE").split()
        self.check(bool(windows), f"the stand-in's X window was found ({windows})")
        if windows:
            self.xdotool("windowfocus", windows[0])
        time.sleep(0.3)
        self.xdotool("keydown", "shift")

    def release_shift(self):
        self.xdotool("keyup", "shift")

    def run_program(self, args=(), input=b"", env=None, timeout=120):
        proc = self.session.popen(self.program_command(None, *args), env, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        status, out = self.session.finish(proc, input, timeout)
        self.evidence.append(f"exit status {status}; transcript {out!r} = {out.decode('cp932', 'replace')!r}")
        return status, out

    # --- shared checks ----------------------------------------------------------------
    def check_keys_and_paste(self, log, series=1):
        keys = log.keys()
        seen = [(f["msg"], int(f["vk"], 16), int(f["scan"], 16)) for _, f in keys]
        self.equal(seen, EXPECTED_KEYS * series,
                   f"{12 * series} key events in order, with MapVirtualKeyA scan codes")
        self.check(all(f["ext"] == "0" for _, f in keys), "no event carries the extended bit (Delete neither)")
        self.check(all(f.get("to") == "main" for _, f in keys), "every key went to TALMERINE's main window")
        v_down = [f for _, f in keys if f["vk"] == "56" and f["msg"] == "WM_KEYDOWN"]
        self.check(len(v_down) == series and all(f["ctrl"] == "1" for f in v_down), "Ctrl is held while V goes down")
        self.check(all(f.get("shift") == "0" and f.get("alt") == "0" for _, f in keys),
                   "no event arrives with Shift or Alt down")
        pastes = log.all("paste")
        self.equal([f.get("text") for _, f in pastes], [SENTENCE.hex().upper()] * series,
                   f"{series} paste(s), each of exactly the 36-byte sentence as CF_TEXT")
        unicode = [bytes.fromhex(f.get("unicode", "")).decode("utf-16-le", "replace") for _, f in pastes
                   if f.get("unicode") != "none"]
        self.equal(unicode, [SENTENCE_TEXT] * series,
                   f"{series} paste(s) read as a Unicode application reads them (CF_UNICODETEXT)")
        self.equal([f.get("locale") for _, f in pastes], [JAPANESE_LOCALE_HEX] * series,
                   "the clipboard text is tagged Japanese (CF_LOCALE 0x0411)")
        self.equal(len(log.all("action")), series, f"F5 reached the window {series} time(s)")
        return keys

    def check_front_at_first_key(self, log, state="normal"):
        _, first = log.first("first-key")
        self.equal((first.get("foreground"), first.get("state")), ("1", state),
                   "at the first key the window is in front and in its normal state")

    def check_pauses(self, log, keys):
        if len(keys) != 12:
            return
        first_key = keys[0][0]
        changes = [t for t, _ in log.all("clipboard-changed") if t <= first_key]
        if self.check(bool(changes), "the window saw the clipboard change before the first key"):
            gap = first_key - changes[-1]
            self.check(500 - EARLY_MS <= gap <= 500 + PAUSE_LATE_MS, f"clipboard change -> first key {gap} ms (500 ms pause)")
        gap = keys[10][0] - keys[9][0]
        self.check(200 - EARLY_MS <= gap <= 200 + PAUSE_LATE_MS, f"Ctrl release -> F5 {gap} ms (200 ms pause)")

    def check_clipboard_after(self, want_sentence):
        dump = self.desktool("dump")
        self.evidence.append("clipboard afterwards: " + dump)
        if want_sentence:
            self.check("MiyoTestPrivate" not in dump and dump.endswith("text=" + SENTENCE.hex().upper()),
                       f"the clipboard holds only the sentence afterwards ({dump})")
        else:
            self.check("MiyoTestPrivate" in dump and dump.endswith("text=6F6C64"),
                       f"the clipboard kept its earlier content ({dump})")

    def place_old_clipboard(self):
        self.equal(self.desktool("put-old"), "placed", "earlier clipboard content placed in other formats")


# --- the cases ------------------------------------------------------------------------

def case_present(c):
    """Window present at start: only the final message, the keys, the paste, the pauses."""
    c.install_standin()
    c.place_old_clipboard()
    c.start_standin("standin")
    status, out = c.run_program()
    log = c.settled("standin")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    keys = c.check_keys_and_paste(log)
    c.check_front_at_first_key(log)
    c.check_pauses(log, keys)
    c.check_clipboard_after(True)


def shown_case(show):
    def case(c):
        c.install_standin()
        c.start_standin("standin", show=show)
        # Arguments of any kind change nothing.
        status, out = c.run_program(args=["--launch", "/?", "x y"])
        log = c.settled("standin")
        _, window = log.first("window")
        c.equal(window.get("state"), show + "imised", "the window was shown that way at first")
        c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF, arguments ignored")
        c.check_front_at_first_key(log)
        c.check_keys_and_paste(log)
    case.__doc__ = f"The stand-in starts {show}imised: brought back to normal and to the front."
    return case


def case_launch(c):
    """No window at start: the shell starts the stand-in, which shows its window late."""
    c.install_standin()
    status, out = c.run_program(env=c.standin_env("standin", delay_ms=1500))
    log = c.settled("standin")
    match = re.fullmatch(re.escape(LAUNCHING) + rb"(\.+)\r\n" + re.escape(DONE), out)
    c.check(status == 0 and match is not None, "exit 0; launch message, dots, line end, 終了")
    if match:
        c.check(2 <= len(match.group(1)) <= 4, f"{len(match.group(1))} dots for a window shown 1.5 s after start")
    _, start = log.first("start")
    cwd = bytes.fromhex(start.get("cwd", "")).decode("cp932", "replace")
    c.equal(cwd.rstrip("\\").lower(), INSTALL_DIR.lower(), "started in the install folder")
    c.equal(start.get("show"), "1", "started with the normal show command (SW_SHOWNORMAL)")
    keys = c.check_keys_and_paste(log)
    window_at, _ = log.first("window")
    if keys and window_at is not None:
        gap = keys[0][0] - window_at
        c.check(3000 + 500 - EARLY_MS <= gap <= 3000 + 500 + 1000 + PAUSE_LATE_MS,
                f"window shown -> first key {gap} ms (a lookup each second, then 3000 + 500 ms)")
    c.check_front_at_first_key(log)


def case_title_longer(c):
    """A window whose title only begins with the title is not used: the launch follows."""
    c.install_standin()
    c.start_standin("decoy", title_hex=(TITLE + " (2)").encode("cp932").hex())
    status, out = c.run_program(env=c.standin_env("standin"))
    decoy, launched = c.settled("decoy", "standin")
    c.check(status == 0 and re.fullmatch(re.escape(LAUNCHING) + rb"\.+\r\n" + re.escape(DONE), out) is not None,
            "exit 0 through the launch branch")
    c.equal(decoy.all("key"), [], "the window with the longer title received no key")
    c.check_keys_and_paste(launched)


def case_title_case(c):
    """A title that differs only in the case of its Latin letters is found."""
    c.install_standin()
    c.start_standin("standin", title_hex="talmerine - ミヨ".encode("cp932").hex())
    status, out = c.run_program()
    log = c.settled("standin")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    c.check_keys_and_paste(log)


def case_clipboard_busy_briefly(c):
    """Another program holds the clipboard for 400 ms from the program's first question
    to the window (before it is answered, so whatever the start-up time): all goes in,
    the change right after the release (a try every 50 ms)."""
    c.install_standin()
    c.start_standin("standin", hold_clipboard_ms=400, hold_on_null=1)
    status, out = c.run_program()
    log = c.settled("standin")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    held, _ = log.first("clipboard-held")
    released, _ = log.first("clipboard-released")
    changed = [t for t, _ in log.all("clipboard-changed")]
    if c.check(held is not None and released is not None and bool(changed), "the clipboard was held and released"):
        gap = changed[-1] - released
        c.check(0 <= gap <= 50 + PAUSE_LATE_MS, f"released -> changed {gap} ms (a try every 50 ms)")
    c.check_keys_and_paste(log)


def case_clipboard_busy_long(c):
    """Held for longer than the retry time: the error, exit 2, and nothing typed."""
    c.install_standin()
    # Started minimised, the window logs when the program restores it, right before the
    # clipboard: the retries are timed from there, apart from Wine's start-up.
    c.start_standin("standin", wait_for="clipboard-held", hold_clipboard_ms=60000, show="min")
    status, out = c.run_program()
    exited_at = now_ms()
    log = c.settled("standin")
    c.equal((status, out), (2, CLIPBOARD_FAILED), "exit 2 and exactly the clipboard error")
    restored_at, _ = log.first("restored")
    if c.check(restored_at is not None, "the program restored the window before the clipboard"):
        took = exited_at - restored_at
        c.check(900 <= took <= 1000 + PAUSE_LATE_MS * 2,
                f"gave up {took} ms after restoring the window (about 1 s of retries)")
    c.equal((log.all("key"), log.all("paste")), ([], []), "the stand-in received no key and no paste")


def dismiss_error_dialogs(c, until, seconds):
    """Presses OK in the shell's error dialog, which blocks ShellExecuteExA until it is
    dismissed, until `until()`; it takes a moment to accept input, so it is pressed
    until it is gone. Returns (how many times one appeared, most at once)."""
    most_at_once = appearances = showing = 0
    deadline = time.monotonic() + seconds
    # Each look is a Windows program started: once the one dialog expected has come and
    # gone there is nothing more to press.
    while not until() and time.monotonic() < deadline and not (appearances and not showing):
        found = c.desktool("dismiss", "エラー".encode("cp932").hex())
        count = int(found) if found.isdigit() else 0
        appearances += count > 0 and showing == 0
        showing = count
        most_at_once = max(most_at_once, count)
        time.sleep(0.2)
    return appearances, most_at_once


NOT_FOUND_TRANSCRIPT = LAUNCHING + LAUNCH_FAILED + b"." * 60 + NOT_FOUND


def case_not_found(c):
    """Launch refused, no window for the real minute: the not-found message, then a wait
    for one character, and exit 1 once it is given. While this copy waits for its
    character, a second copy started during its minute runs its whole series: the one
    left waiting holds nobody up."""
    c.install_standin(present=False)
    env = c.standin_env("standin", delay_ms=1500)
    waiting = c.session.popen(c.program_command(), env, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    appearances, _ = dismiss_error_dialogs(c, lambda: waiting.poll() is not None, 60)
    c.equal(appearances, 1, "the shell's error dialog appeared for the first copy's launch")
    # Installed now, the second copy's launch works; its window can only appear once the
    # first copy has given up, since the second launches after the first's minute.
    c.install_standin()
    second = c.start_program(env)
    status, out = c.finish_program(second, "second copy: ", timeout=150)
    c.equal(status, 0, "the second copy, started during the first one's minute, exits 0")
    c.check(re.fullmatch(re.escape(WAITING_FOR_OTHER_RUN) + rb"\.+\r\n" + re.escape(LAUNCHING) + rb"\.+\r\n" +
                         re.escape(DONE), out) is not None,
            "the second copy waited for the first one's minute, saying so, then went the launch road: "
            "its message, dots, line end, 終了")
    c.check(waiting.poll() is None, "the first copy is still waiting for a character after the second finished")
    try:
        out, _ = waiting.communicate(b"x", timeout=10)
    except subprocess.TimeoutExpired:
        out = b""
    c.evidence.append(f"first copy, one character given: exit status {waiting.returncode}; transcript {out!r}")
    c.equal((waiting.returncode, out), (1, NOT_FOUND_TRANSCRIPT),
            "one character given: exit 1 after the error, 60 dots and the not-found message on their line")
    log = c.settled("standin")
    c.equal(len(log.all("start")), 1, "TALMERINE was started once, by the second copy")
    c.check_keys_and_paste(log)


def case_not_found_input_at_end(c):
    """Launch refused, no window, standard input at its end: after the real minute the
    not-found message and exit 1 at once; the clipboard is left as it was."""
    c.install_standin(present=False)
    c.place_old_clipboard()
    proc = c.start_program(c.standin_env("standin"))
    appearances, most = dismiss_error_dialogs(c, lambda: proc.poll() is not None, 100)
    c.equal((appearances, most), (1, 1), "the shell's error dialog appeared once")
    status, out = c.finish_program(proc, timeout=100)
    c.equal((status, out), (1, NOT_FOUND_TRANSCRIPT),
            "exit 1 after the error, 60 dots and the not-found message on their line")
    c.check(not os.path.exists(os.path.join(c.install_dir, "Talmerine.exe")),
            "set-up: nothing at the install path, so the shell refuses the launch")
    c.check_clipboard_after(False)


def case_shift_released(c):
    """Shift held by the user from the start, let go 0.8 s after the program's first
    question: the clipboard and the keys wait for the release; none arrives with Shift
    down."""
    c.install_standin()
    c.start_standin("standin")
    c.hold_shift()
    proc = c.start_program()
    c.after_first_question(800)
    c.release_shift()
    status, out = c.finish_program(proc)
    log = c.settled("standin")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    keys = c.check_keys_and_paste(log)
    # The release as the window got it, by its own time stamp, not when xdotool returned.
    shift_ups = [t for t, f in log.all("key") if int(f["vk"], 16) in SHIFT_KEYS and f["msg"] == "WM_KEYUP"]
    changed_at, _ = log.first("clipboard-changed")
    if c.check(bool(shift_ups) and changed_at is not None, "the window saw Shift let go and the clipboard change"):
        gap = changed_at - shift_ups[-1]
        c.check(0 <= gap <= 50 + PAUSE_LATE_MS, f"Shift released -> clipboard changed {gap} ms (checked every 50 ms)")
        if keys:
            gap = keys[0][0] - changed_at
            c.check(500 - EARLY_MS <= gap <= 500 + PAUSE_LATE_MS, f"clipboard changed -> first key {gap} ms")


def case_shift_held_long(c):
    """Shift held for good from the start: 2 s after the program first sees it, it gives
    up, says so and sends nothing; the user's clipboard is left as it was."""
    c.install_standin()
    c.place_old_clipboard()
    c.start_standin("standin")
    c.hold_shift()
    proc = c.start_program()
    asked = c.wait_for("standin", "null", 60)
    status, out = c.finish_program(proc)
    exited_at = now_ms()
    c.release_shift()
    log = c.settled("standin")
    c.equal((status, out), (2, KEYS_HELD), "exit 2 and exactly the held-key error")
    c.equal((log.keys(), log.all("paste"), log.all("action")), ([], [], []),
            "no key but Shift's own reached the window: no paste, no F5")
    c.check_clipboard_after(False)
    asked_at, _ = log.first("null")
    if c.check(asked and asked_at is not None, "the program asked the window (WM_NULL)"):
        # The two looks at the front (50 ms) come between the question and the first
        # sight of Shift; then a 2000 ms wait.
        gap = exited_at - asked_at
        c.check(2000 + 50 - EARLY_MS <= gap <= 2000 + 50 + PAUSE_LATE_MS,
                f"first question -> exit {gap} ms (a 2000 ms wait for the release)")


def case_two_copies(c):
    """Two copies started 300 ms apart with TALMERINE not running: one launch, two
    whole series one after the other."""
    c.install_standin()
    env = c.standin_env("standin", delay_ms=1500)
    first = c.start_program(env)
    time.sleep(0.3)
    second = c.start_program(env)
    results = [c.finish_program(first, "first copy: "), c.finish_program(second, "second copy: ")]
    log = c.settled("standin")
    c.equal([status for status, _ in results], [0, 0], "both copies exit 0")
    roads = [(re.fullmatch(re.escape(LAUNCHING) + rb"\.+\r\n" + re.escape(DONE), out) is not None,
              re.fullmatch(re.escape(WAITING_FOR_OTHER_RUN) + rb"\.+\r\n" + re.escape(DONE), out) is not None)
             for _, out in results]
    c.equal(sorted(roads), [(False, True), (True, False)],
            "one transcript of the launch road, one of the wait for the other copy (its message, dots, "
            "line end) and 終了")
    c.equal(len(log.all("start")), 1, "TALMERINE was started once")
    c.check_keys_and_paste(log, series=2)


def case_answers_late(c):
    """The stand-in reads no message for 20 s once its window is shown: the program says
    it is waiting, a dot a second, and once the window answers types the whole series.
    (20 s: a 32-bit start under emulation on a busy machine has been seen to take 15.)"""
    c.install_standin()
    c.start_standin("standin", wait_for="hang", hang_ms=20000)
    started_at = now_ms()
    status, out = c.run_program()
    log = c.settled("standin")
    match = re.fullmatch(re.escape(WAITING) + rb"(\.+)\r\n" + re.escape(DONE), out)
    c.check(status == 0 and match is not None, "exit 0; the waiting message, dots, line end, 終了")
    awake_at, _ = log.first("awake")
    keys = c.check_keys_and_paste(log)
    if c.check(awake_at is not None, "the stand-in woke up") and match:
        # A dot a second: Windows and Wine answer at once for a thread hung 5 s, so an
        # unpaced wait would run through its dots in no time and give up.
        dots, waited = len(match.group(1)), awake_at - started_at
        c.check(1 <= dots <= waited / 1000 + 1, f"{dots} dots for a window that answered {waited} ms after the start")
    if keys and awake_at is not None:
        c.check(keys[0][0] >= awake_at + 500, f"the first key came {keys[0][0] - awake_at} ms after it answered again")
    c.check_front_at_first_key(log)


def case_never_answers(c):
    """The stand-in reads no message for 60 s, longer than the program waits: the
    message, 30 dots, the error and exit 2 before the window wakes up (60 s leave room
    for a slow start); the window is neither shown nor sent anything, also once it reads
    its messages again."""
    c.install_standin()
    c.place_old_clipboard()
    c.start_standin("standin", wait_for="hang", hang_ms=60000, show="min")
    started_at = now_ms()
    status, out = c.run_program(timeout=120)
    exited_at = now_ms()
    c.equal((status, out), (2, WAITING + b"." * 30 + b"\r\n" + NOT_ANSWERING),
            "exit 2: the waiting message, 30 dots, the line end and the error")
    log = c.settled("standin")
    # The window, hung, logs no question, and the start under Wine can take seconds: what
    # is timed here is only that the program gave up before the window woke up. How long
    # its seconds are is desktop_operations' to check, inside one process.
    hung_at, _ = log.first("hang")
    awake_at, _ = log.first("awake")
    if c.check(awake_at is not None, "the stand-in woke up and handled what was queued for it"):
        c.check(exited_at < awake_at,
                f"the program gave up before the window answered again ({awake_at - exited_at} ms before; "
                f"{exited_at - started_at} ms after it was started, {awake_at - hung_at} ms hung)")
    c.equal((log.all("restored"), log.all("key"), log.all("paste"), log.all("clipboard-changed")),
            ([], [], [], []), "the window was not restored and got no key, no paste, no clipboard change")
    c.check_clipboard_after(False)


def case_dialog_open(c):
    """TALMERINE has a dialog of its own open (an owned popup, the main window disabled)
    for good: the waiting message, 30 dots a second from the program's first question,
    the error and exit 2; nothing shown, no clipboard change, no key to either window."""
    c.install_standin()
    c.place_old_clipboard()
    # Minimised, so that a show by the program would log "restored".
    c.start_standin("standin", wait_for="dialog-open", dialog=1, show="min")
    status, out = c.run_program(timeout=120)
    exited_at = now_ms()
    log = c.settled("standin")
    c.equal((status, out), (2, WAITING_FOR_DIALOG + b"." * 30 + b"\r\n" + DIALOG_OPEN),
            "exit 2: the waiting message, 30 dots, the line end and the error")
    asked_at, _ = log.first("null")
    if c.check(asked_at is not None, "the program asked the window (WM_NULL) before anything else"):
        # Timed from the program's first question, so a slow start cannot hide a short wait.
        waited = exited_at - asked_at
        c.check(30000 - EARLY_MS <= waited <= 30000 + LATE_MS, f"first question -> exit {waited} ms (30 s)")
    shown_at, _ = log.first("window")
    c.equal((log.all("key"), log.all("paste"), [t for t, _ in log.all("restored") if t > shown_at]), ([], [], []),
            "not restored by the program, no key to the main window or the dialog, no paste")
    c.check_clipboard_after(False)


def case_dialog_closes(c):
    """The dialog is answered 3 s after the program first asked the window; the window is
    enabled first and its thread stays busy destroying the dialog (about 2 s under Wine):
    the waiting message, a dot a second, possibly the wait for an answer, and the whole
    series, the clipboard replaced only once the window reads its messages again."""
    c.install_standin()
    c.start_standin("standin", wait_for="dialog-open", dialog=1)
    proc = c.start_program()
    closed = False
    if c.after_first_question(3000):
        c.desktool("close-dialog")
        closed = c.wait_for("standin", "dialog-closed", 10)
    status, out = c.finish_program(proc)
    log = c.settled("standin")
    match = re.fullmatch(re.escape(WAITING_FOR_DIALOG) + rb"(\.+)\r\n(?:" + re.escape(WAITING) + rb"\.+\r\n)?" +
                         re.escape(DONE), out)
    c.check(status == 0 and match is not None, "exit 0; the waiting message, dots, line end, 終了")
    keys = c.check_keys_and_paste(log)
    asked_at, _ = log.first("null")
    closed_at, _ = log.first("dialog-closed")
    destroyed_at, _ = log.first("dialog-destroyed")
    changed_at, _ = log.first("clipboard-changed")
    if c.check(destroyed_at is not None and changed_at is not None, "the dialog was destroyed, the clipboard changed"):
        c.check(changed_at >= destroyed_at,
                f"the clipboard changed {changed_at - destroyed_at} ms after the window was done with the dialog")
    if c.check(closed and closed_at is not None, "the dialog was closed") and match and asked_at is not None:
        dots, open_ms = len(match.group(1)), closed_at - asked_at
        # A look at the end of each second: the dot of the second in which it closed is
        # the last.
        c.check(open_ms / 1000 <= dots <= open_ms / 1000 + 1,
                f"{dots} dots for a dialog closed {open_ms} ms after the first question")
    if keys and closed_at is not None:
        c.check(keys[0][0] >= closed_at + 500, f"the first key came {keys[0][0] - closed_at} ms after the dialog closed")
    c.check_front_at_first_key(log)


def case_destroyed_on_restore(c):
    """A window that destroys itself as it is restored, with another window of the same
    program open: exit 2 and no key anywhere (under Wine without a window manager the
    destruction holds the window's thread for about 2 s, the window still there and in
    front)."""
    c.install_standin()
    c.start_standin("standin", show="min", destroy_on_restore=1)
    status, out = c.run_program()
    log = c.settled("standin")
    c.check(status == 2 and re.fullmatch(GATE_WAITS + rb"(?:" + re.escape(NOT_ANSWERING) + rb"|" +
                                         re.escape(NOT_FOREGROUND) + rb")", out) is not None,
            f"exit 2 with the not-answering or the not-in-front error (got {status}, {out.decode('cp932', 'replace')!r})")
    c.check(bool(log.all("destroyed")), "the window destroyed itself when it was restored")
    c.equal((log.all("key"), log.all("paste"), log.all("action")), ([], [], []), "no key to any window")


def case_stops_reading_after_answer(c):
    """The window answers the program's first question, then reads no message for 45 s,
    longer than the 31 s it is given: the program finishes (exit 2, no key) before the
    window reads its messages again; no call of it waits on the window's thread."""
    c.install_standin()
    c.start_standin("standin", show="min", hang_after_null_ms=45000)
    status, out = c.run_program(timeout=120)
    exited_at = now_ms()
    log = c.settled("standin")
    c.check(status == 2 and re.fullmatch(GATE_WAITS + re.escape(NOT_ANSWERING), out) is not None,
            f"exit 2: the waiting message, dots, the not-answering error (got {status}, "
            f"{out.decode('cp932', 'replace')!r})")
    awake_at, _ = log.first("awake")
    if c.check(awake_at is not None, "the window answered, then stopped reading its messages and woke up"):
        c.check(exited_at < awake_at, f"the program ended {awake_at - exited_at} ms before the window woke up")
    c.equal((log.all("key"), log.all("paste")), ([], []), "no key, no paste")


def case_busy_after_answer(c):
    """The window answers the program's first question, then is busy for 2.5 s (with
    what its activation started): the program waits for it, saying so, and types the
    whole series; the user's clipboard is replaced only once the window answers again."""
    c.install_standin()
    c.start_standin("standin", hang_after_null_ms=2500)
    status, out = c.run_program()
    log = c.settled("standin")
    c.check(status == 0 and re.fullmatch(GATE_WAITS + re.escape(DONE), out) is not None and out != DONE,
            "exit 0; a wait said, its dots, line end, 終了")
    keys = c.check_keys_and_paste(log)
    awake_at, _ = log.first("awake")
    changed_at, _ = log.first("clipboard-changed")
    if c.check(awake_at is not None and changed_at is not None, "the window woke up, the clipboard changed"):
        c.check(changed_at >= awake_at, f"the clipboard changed {changed_at - awake_at} ms after the window woke up")
    c.check_front_at_first_key(log)


def case_clipboard_rewritten(c):
    """Another program writes "FOREIGN TEXT" to the clipboard 150 ms after the program
    did: no key at all (not even Ctrl+/ and Delete), exit 2 and the error; nothing
    foreign pasted."""
    c.install_standin()
    c.start_standin("standin")
    rewriter = c.desktool_running("listening", "the other program listens for clipboard changes",
                                  "rewrite-clipboard", "150")
    status, out = c.run_program()
    _, rewrote = c.session.finish(rewriter, timeout=30)
    log = c.settled("standin")
    c.equal(rewrote.strip(), b"rewrote", "the other program rewrote the clipboard after the program's change")
    c.equal((status, out), (2, CLIPBOARD_CHANGED), "exit 2 and exactly the clipboard-changed error")
    c.equal((log.keys(), log.all("paste"), log.all("action")), ([], [], []), "no key, no paste, no F5")


def case_replaced_at_start(c):
    """Launch road, and the started TALMERINE shows a new window of the same title in
    front 1.5 s after the first (inside the 3 s settle), the first left open, as a splash
    that stays: the lookup after the settle finds the new one, and the whole series goes
    into it."""
    c.install_standin()
    status, out = c.run_program(env=c.standin_env("standin", replace_after_ms=1500))
    log = c.settled("standin")
    c.check(status == 0 and re.fullmatch(re.escape(LAUNCHING) + rb"\.+\r\n" + re.escape(DONE), out) is not None,
            "exit 0; launch message, dots, line end, 終了")
    replaced_at, _ = log.first("replaced")
    keys = c.check_keys_and_paste(log)
    if c.check(replaced_at is not None, "the window was replaced") and keys:
        c.check(keys[0][0] > replaced_at, f"the first key came {keys[0][0] - replaced_at} ms after the replacement")
    c.check_front_at_first_key(log)


def case_front_stolen(c):
    """Another window takes the foreground back every 10 ms for good: the program says it
    waits for the front, asks again each second for 30 s, then exit 2 with the
    not-in-front error, no key, and the user's clipboard as it was. (Under Wine the thief
    is in front at every look, so the rule of two looks in a row is tested on the host.)"""
    c.install_standin()
    c.place_old_clipboard()
    c.start_standin("standin")
    thief = c.desktool_running("stealing", "the other window took the foreground", "steal-front", "180000")
    status, out = c.run_program()
    winenv._kill_group(thief)
    log = c.settled("standin")
    c.equal((status, out), (2, WAITING_FOR_FRONT + b"." * 30 + b"\r\n" + NOT_FOREGROUND),
            "exit 2: the waiting message, 30 dots, the line end and the not-in-front error")
    c.equal((log.all("key"), log.all("paste")), ([], []), "no key, no paste")
    c.check_clipboard_after(False)


def case_front_given(c):
    """Another window holds the foreground until 4 s after the program's first question,
    as when the user works elsewhere: the waiting message, then the whole series, the
    user's clipboard replaced only once TALMERINE is in front."""
    c.install_standin()
    c.start_standin("standin")
    thief = c.desktool_running("stealing", "the other window took the foreground", "steal-front", "180000")
    proc = c.start_program()
    given_at = None
    if c.after_first_question(4000):
        winenv._kill_group(thief)
        given_at = now_ms()
    status, out = c.finish_program(proc)
    log = c.settled("standin")
    match = re.fullmatch(re.escape(WAITING_FOR_FRONT) + rb"(\.+)\r\n" + re.escape(DONE), out)
    c.check(status == 0 and match is not None, "exit 0; the waiting message, dots, line end, 終了")
    c.check_keys_and_paste(log)
    changed_at, _ = log.first("clipboard-changed")
    if c.check(changed_at is not None and given_at is not None, "the clipboard changed"):
        c.check(changed_at >= given_at - EARLY_MS, f"the clipboard changed {changed_at - given_at} ms after the "
                                                   "other window let go of the front")
    c.check_front_at_first_key(log)


def run_in_console(c, mode, env=None):
    """The program in a console window of its own titled "TALMERINE - ミヨ", as a
    shortcut of that name starts it: what the console helper saw, as a dict."""
    report = os.path.join(c.work, "console.txt")
    env = dict(env or {}, DESKTOOL_LOG=winenv.windows_path(report))
    c.session.run([winenv.WINE64_LOADER, c.desktool_exe, "console", TITLE.encode("cp932").hex(), mode,
                   winenv.windows_path(c.exe)], extra_env=env, timeout=240)
    text = open(report).read().strip() if os.path.exists(report) else ""
    fields = dict(f.split("=", 1) for f in text.split()) if text else {}
    screen = bytes.fromhex(fields.get("screen", "")).decode("utf-16-le", "replace")
    c.evidence.append(f"console helper: {text[:200]}\nscreen:\n{screen}")
    return fields, screen


def case_console_titled(c):
    """The program runs in a console titled like TALMERINE's window, TALMERINE not
    running: the console is not taken for it; TALMERINE is started and gets the keys."""
    c.install_standin()
    fields, screen = run_in_console(c, "none", c.standin_env("standin"))
    log = c.settled("standin")
    c.equal(fields.get("exit"), "0", "exit 0")
    c.check(re.fullmatch("星綴ミヨを起動します\n\\.+\n終了\n*", screen) is not None,
            f"the console shows the launch message, dots and 終了 ({screen!r})")
    c.equal(fields.get("input-events"), fields.get("pending-at-start"), "no key went into the console's input")
    c.equal(len(log.all("start")), 1, "TALMERINE was started")
    c.check_keys_and_paste(log)


def case_enter_pressed_early(c):
    """An Enter is already in the console's input when a failure is reported (here the
    code page error): the message stays on the screen until the next Enter."""
    c.install_standin()
    fields, screen = run_in_console(c, "enter-first", {"LANG": "en_US.UTF-8", "LC_ALL": "en_US.UTF-8"})
    c.check(fields.get("pending-at-start", "0") != "0", "an Enter was in the console's input at the start")
    c.equal((fields.get("exit"), fields.get("error-seen"), fields.get("answered")), ("2", "1", "1"),
            "exit 2, and still waiting a second after the error appeared, until Enter was pressed")
    after = int(fields.get("exited-after-answer-ms", "-1"))
    c.check(0 <= after <= 5000, f"it ended {after} ms after that Enter")
    c.check("Error: code page for non-Unicode programs is 1252" in screen, "the error is on the screen")


def case_english_user_locale(c):
    """Run with an English user locale (the ANSI code page still 932), as on a Japanese
    Windows whose input language is English: a Unicode application pastes the sentence,
    not the code page 932 bytes read as code page 1252."""
    c.install_standin()
    c.start_standin("standin")
    status, out = c.run_program(env=winenv.user_locale("en_US.UTF-8"))
    log = c.settled("standin")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    c.check_keys_and_paste(log)


def case_code_page_1252(c):
    """Run with ANSI code page 1252 while the stand-in is open and installed: the ASCII
    error and exit 2; no second start, no clipboard change, no key."""
    c.install_standin()
    c.place_old_clipboard()
    c.start_standin("standin")
    # A copy it started would log to the same file (the environment is inherited).
    env = dict(c.standin_env("standin"), LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
    # Pipes for both, as a script or a macro tool starts it: the message must be on the
    # pipe while the program waits for its character, not only once it has exited.
    proc = c.session.popen(c.program_command(), env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
    error = b"Error: code page for non-Unicode programs is 1252, not 932 (Japanese)\r\n"
    seen = b""
    deadline = time.monotonic() + 60
    while len(seen) < len(error) and time.monotonic() < deadline:
        if select.select([proc.stdout], [], [], 0.2)[0]:
            chunk = os.read(proc.stdout.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    c.check(seen == error and proc.poll() is None,
            f"the error on the pipe while the program waits for a character (read {seen!r})")
    status, rest = c.session.finish(proc, b"x", timeout=30)
    out = seen + rest
    c.evidence.append(f"exit status {status}; transcript {out!r}")
    log = c.settled("standin")
    c.equal((status, out), (2, error), "one character given: exit 2 and exactly the code page error")
    c.equal(len(log.all("start")), 1, "TALMERINE was not started a second time")
    c.equal((log.all("key"), log.all("paste")), ([], []), "no key reached the window")
    c.check_clipboard_after(False)


PLANTED_DLL = "uxtheme.dll"


def case_planted_dll(c):
    """A DLL planted beside the exe under the name of one the process loads by name
    after start (uxtheme.dll, with Wine told to prefer a native one): a control program
    in the same folder loads it, the program does not, and does its job."""
    c.install_standin()
    c.start_standin("standin")
    folder = os.path.join(c.work, "Downloads")
    os.makedirs(folder)
    planted = os.path.join(c.build_dir, "tests", "planted")
    exe = shutil.copy(c.exe, folder)
    control = shutil.copy(os.path.join(planted, "load_by_name.exe"), folder)
    shutil.copy(os.path.join(planted, "planted.dll"), os.path.join(folder, PLANTED_DLL))
    marker = os.path.join(c.work, "loaded-by.txt")
    env = {"WINEDLLOVERRIDES": f"{c.session.env['WINEDLLOVERRIDES']};{PLANTED_DLL[:-4]}=n,b",
           "MIYO_PLANTED_MARKER": winenv.windows_path(marker)}

    def loaded_by():
        return open(marker, errors="replace").read().split() if os.path.exists(marker) else []

    status, _ = c.session.run(c.session.command(control, PLANTED_DLL), extra_env=env, timeout=60)
    c.equal((status, [p.split("\\")[-1].lower() for p in loaded_by()]), (0, ["load_by_name.exe"]),
            "a program with the default DLL search loads the planted DLL (the trap works)")
    os.remove(marker)
    status, out = c.finish_program(c.start_program(env, exe))
    log = c.settled("standin")
    c.equal(loaded_by(), [], "miyo-intro.exe did not load the planted DLL")
    c.equal((status, out), (0, DONE), "exit 0 and exactly 終了 CR LF")
    c.check_keys_and_paste(log)


# name: (case, about how many seconds it takes, for CTest to start the long ones first)
CASES = {
    "present": (case_present, 10),
    "maximised": (shown_case("max"), 10),
    "minimised": (shown_case("min"), 10),
    "launch": (case_launch, 15),
    "title_longer": (case_title_longer, 15),
    "title_case": (case_title_case, 10),
    "clipboard_busy_briefly": (case_clipboard_busy_briefly, 10),
    "clipboard_busy_long": (case_clipboard_busy_long, 10),
    "not_found": (case_not_found, 80),
    "not_found_input_at_end": (case_not_found_input_at_end, 70),
    "shift_released": (case_shift_released, 10),
    "shift_held_long": (case_shift_held_long, 12),
    "two_copies": (case_two_copies, 15),
    "answers_late": (case_answers_late, 25),
    "never_answers": (case_never_answers, 65),
    "english_user_locale": (case_english_user_locale, 10),
    "code_page_1252": (case_code_page_1252, 10),
    "planted_dll": (case_planted_dll, 15),
    "dialog_open": (case_dialog_open, 35),
    "dialog_closes": (case_dialog_closes, 12),
    "destroyed_on_restore": (case_destroyed_on_restore, 10),
    "stops_reading_after_answer": (case_stops_reading_after_answer, 50),
    "clipboard_rewritten": (case_clipboard_rewritten, 10),
    "replaced_at_start": (case_replaced_at_start, 15),
    "front_stolen": (case_front_stolen, 40),
    "front_given": (case_front_given, 12),
    "busy_after_answer": (case_busy_after_answer, 10),
    "console_titled": (case_console_titled, 15),
    "enter_pressed_early": (case_enter_pressed_early, 10),
}


def run_case(build_dir, name):
    """Runs one case; returns (exit status, what it ran against)."""
    exe = os.path.join(build_dir, "miyo-intro.exe")
    case_function = CASES[name][0]
    print(f"== {name}: {case_function.__doc__}", flush=True)
    case = None
    try:
        with winenv.Session() as session:
            session.require(exe)
            for helper in ("Talmerine.exe", "desktool.exe"):
                session.require(os.path.join(build_dir, "tests", "standin", helper))
            against = winenv.describe(exe)
            print(f"   against {against}", flush=True)
            case = Case(session, build_dir, name)
            case_function(case)
    except winenv.CannotRun as why:
        print(f"FAILED, NOT RUN: end-to-end case {name}: {why}", flush=True)
        return 1, f"NOT RUN: {why}"
    except SetUpFailed as why:
        case.check(False, f"set-up: {why}")
    except Exception as crash:  # a fault of the case itself is a failure, not "not run"
        if case is None:
            raise
        traceback.print_exc()
        case.check(False, f"the case crashed: {crash!r} (trace above)")
    if case.failures:
        print("\n--- evidence ---\n" + "\n".join(case.evidence))
    print(f"{case.passed} passed, {len(case.failures)} failed")
    return (1 if case.failures or case.passed == 0 else 0), against


def summary(build_dirs):
    """One line per build: which program the cases ran against and how they ended."""
    lines = []
    for build_dir in build_dirs:
        results = []
        for name in CASES:
            try:
                with open(os.path.join(build_dir, "e2e", name, "result")) as f:
                    status, seconds, against = f.read().rstrip("\n").split(" ", 2)
                results.append((name, status, float(seconds), against))
            except (OSError, ValueError):
                results.append((name, "missing", 0.0, None))
        passed = sum(status == "0" for _, status, _, _ in results)
        against = sorted({a for _, _, _, a in results if a and not a.startswith("NOT RUN")}) or ["nothing"]
        times = ", ".join(f"{name} {seconds:.0f} s" if status != "missing" else f"{name} not run"
                          for name, status, seconds, _ in results)
        lines.append(f"e2e: {passed} of {len(CASES)} cases passed against {'; '.join(against)} ({times})")
    return lines


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    build_dir, name = sys.argv[1], sys.argv[2]
    # What a first run gets wrong, said in one line before any display or prefix is made.
    if name not in CASES and name not in ("list", "summary"):
        sys.exit(f"e2e.py: no case {name!r}; the cases: {', '.join(CASES)}")
    if name not in ("list", "summary"):
        for needed in ("miyo-intro.exe", "tests/standin/Talmerine.exe", "tests/standin/desktool.exe"):
            if not os.path.exists(os.path.join(build_dir, needed)):
                sys.exit(f"e2e.py: {os.path.join(build_dir, needed)} is missing: build the preset first "
                         f"(cmake --preset win32 && cmake --build --preset win32)")
    if name == "list":
        print("\n".join(f"{case} {seconds}" for case, (_, seconds) in CASES.items()))
        return 0
    if name == "summary":
        print("\n".join(summary(sys.argv[1:2] + sys.argv[3:])))
        return 0
    started = time.monotonic()
    status, against = run_case(build_dir, name)
    work = os.path.join(build_dir, "e2e", name)
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "result"), "w") as f:
        f.write(f"{status} {time.monotonic() - started:.1f} {against}\n")
    return status


if __name__ == "__main__":
    sys.exit(main())
