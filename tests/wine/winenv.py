"""Wine on a private virtual X display, for the tests that run Windows programs.

Every process started here runs under a time limit and is ended by its own process id
when the session closes, pass or fail: nothing is left to hang CI.
"""
import fcntl
import os
import shutil
import signal
import struct
import subprocess
import sys
import time

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests


class CannotRun(Exception):
    """This machine cannot run the program; the message says why."""


def pe_machine(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = struct.unpack_from("<I", head, 0x3C)[0]
    if head[offset:offset + 4] != b"PE\0\0":
        raise CannotRun(f"{path} is not a PE file")
    machine = struct.unpack_from("<H", head, offset + 4)[0]
    return {0x14C: "i386", 0x8664: "x86-64"}.get(machine, hex(machine))


def has_wine32():
    return os.access(WINE32_LOADER, os.X_OK)


def check_runnable(exe):
    """Raises CannotRun unless this machine's Wine runs `exe`.

    Without 32-bit Wine, `wine prog32.exe` exits 0 and prints nothing: a test that
    trusted it would pass falsely, so that case is refused here, loudly.
    """
    if not shutil.which("wine") or not shutil.which("Xvfb"):
        raise CannotRun("wine or Xvfb is not installed (run tools/install-deps)")
    if pe_machine(exe) == "i386" and not has_wine32():
        raise CannotRun("no 32-bit Wine here (wine32:i386 could not be installed); "
                        "the win64 build runs these tests under wine64 instead")


def cannot_run_reason(exe, purpose):
    """None when this machine can run `exe` (announcing the 64-bit fallback on standard
    error, which leaves a program's own output clean), else the reason it cannot."""
    try:
        check_runnable(exe)
    except CannotRun as why:
        return str(why)
    if pe_machine(exe) == "x86-64" and not has_wine32():
        print(f"NOTICE: no 32-bit Wine on this machine: {purpose} runs the 64-bit build of the same "
              "sources under wine64, not the 32-bit program that ships", file=sys.stderr, flush=True)
    return None


def build_dir_of(path):
    """The CMake build folder that holds `path`."""
    here = os.path.dirname(os.path.abspath(path))
    while here != "/":
        if os.path.exists(os.path.join(here, "CMakeCache.txt")):
            return here
        here = os.path.dirname(here)
    raise CannotRun(f"{path} is not inside a CMake build folder")


def windows_path(linux_path):
    """The Z: drive path under which Wine sees a Linux path."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def _kill_group(proc):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass


class Session:
    """Xvfb on a free display and a Wine prefix kept in the build folder."""

    def __init__(self, build_dir):
        self.prefix = os.path.join(os.path.abspath(build_dir), "wine-prefix")
        self.procs = []
        self.xvfb = None
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # ANSI and console code page 932, as on a Japanese desktop.
            "LANG": "ja_JP.UTF-8",
            "LC_ALL": "ja_JP.UTF-8",
        })
        if not has_wine32():
            self.env["WINELOADER"] = WINE64_LOADER

    def __enter__(self):
        self._start_xvfb()
        self._ensure_prefix()
        return self

    def __exit__(self, *exc):
        self.close()

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.close()
            raise CannotRun("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def _ensure_prefix(self):
        os.makedirs(self.prefix, exist_ok=True)
        with open(self.prefix + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.prefix, "system.reg")):
                self.run(["wine", "wineboot", "-i"], timeout=180)
                self.stop_wine()

    def popen(self, args, extra_env=None, **kwargs):
        env = dict(self.env)
        env.update(extra_env or {})
        proc = subprocess.Popen(args, env=env, start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def run(self, args, input=b"", timeout=60, extra_env=None):
        """Runs to the end; returns (exit status, stdout bytes). None as status: timed out."""
        proc = self.popen(args, extra_env, stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            out, _ = proc.communicate(input, timeout=timeout)
            return proc.returncode, out
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            return None, b""

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=20,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=20,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _kill_prefix_processes(self):
        """Ends by process id whatever still runs in this prefix (wineserver included)."""
        marker = f"WINEPREFIX={self.prefix}\0".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if marker in f.read() + b"\0":
                        os.kill(int(pid), signal.SIGKILL)
            except (OSError, ProcessLookupError):
                pass

    def close(self):
        try:
            if "DISPLAY" in self.env:
                self.stop_wine()
        except subprocess.TimeoutExpired:
            pass
        for proc in self.procs:
            _kill_group(proc)
        self._kill_prefix_processes()
        if self.xvfb:
            _kill_group(self.xvfb)
            self.xvfb = None
