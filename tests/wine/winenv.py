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
REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
PROBE_SOURCE = os.path.join(REPO, "tests", "wine", "probe.c")
PROBE_DIR = os.path.join(REPO, "build", "wine-probe")
PROBE_COMPILERS = {"i386": "i686-w64-mingw32-gcc", "x86-64": "x86_64-w64-mingw32-gcc"}
PROBE_BITS = {"i386": 32, "x86-64": 64}
LOADERS = {"i386": WINE32_LOADER, "x86-64": WINE64_LOADER}
QEMU_I386 = "/proc/sys/fs/binfmt_misc/qemu-i386"
WINE_FONTS = "/usr/share/wine/fonts"
# Under qemu-i386 Wine's reservation of the upper address space makes a trivial 32-bit
# program take close to a minute to start; a reserved guest space of this size keeps it
# to seconds (smaller ones fail: "failed to map the shared user data").
QEMU_RESERVED_VA = "0x80400000"


def user_locale(locale):
    """The environment of a program whose user locale is `locale` while its ANSI code
    page stays 932: as on a Japanese Windows whose input language is another. Wine takes
    the user locale from LC_MESSAGES, which LC_ALL would override."""
    return {"LC_ALL": None, "LANG": "ja_JP.UTF-8", "LC_MESSAGES": locale}


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


def loader_for(exe):
    """The Wine loader that runs `exe` itself. Debian's `wine` wrapper goes through the
    32-bit loader whenever it is installed, also for 64-bit programs: a 64-bit helper
    started that way would pay an emulated start, so each goes straight to its own."""
    return LOADERS.get(pe_machine(exe), WINE64_LOADER)


def i386_mode():
    """How i386 Linux code runs here: through a qemu-i386 binfmt_misc entry, or natively."""
    try:
        with open(QEMU_I386) as f:
            lines = f.read().splitlines()
    except OSError:
        return "natively"
    if lines[:1] != ["enabled"]:
        return "natively"
    interpreter = next((l.split(" ", 1)[1] for l in lines if l.startswith("interpreter ")), "?")
    return f"emulated by {interpreter} (binfmt_misc)"


def describe(exe):
    """Which program ran and how, for the lines that say what the tests ran against."""
    if pe_machine(exe) == "i386":
        return f"{exe} (PE32) under 32-bit Wine {WINE32_LOADER}, i386 code {i386_mode()}"
    return f"{exe} (PE32+) under {WINE64_LOADER}"


def probe_exe(machine):
    """The probe program for `machine`, compiled here when missing or out of date."""
    exe = os.path.join(PROBE_DIR, f"probe-{machine}.exe")
    if os.path.exists(exe) and os.path.getmtime(exe) >= os.path.getmtime(PROBE_SOURCE):
        return exe
    compiler = PROBE_COMPILERS[machine]
    if not shutil.which(compiler):
        raise CannotRun(f"{compiler} is not installed (run tools/install-deps)")
    os.makedirs(PROBE_DIR, exist_ok=True)
    partial = f"{exe}.{os.getpid()}.tmp"
    build = subprocess.run([compiler, "-O1", "-s", PROBE_SOURCE, "-o", partial],
                           capture_output=True, text=True, timeout=120)
    if build.returncode != 0:
        raise CannotRun(f"the probe did not compile: {build.stderr.strip()}")
    os.replace(partial, exe)
    return exe


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


# Files that Wine only reads once a prefix is made: a session's prefix links them from
# the template instead of copying them (the DLLs alone are over a gigabyte).
SHARED_SUFFIXES = (".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".ttf",
                   ".nls", ".mui", ".manifest", ".cat", ".ds", ".msstyles", ".com", ".vxd", ".fon")


def _link_prefix(template, target):
    """A copy of the template prefix whose read-only files are hard links: the registry
    and every other file Wine may write stay the session's own."""
    for here, dirs, files in os.walk(template):
        relative = os.path.relpath(here, template)
        into = os.path.normpath(os.path.join(target, relative))
        os.makedirs(into, exist_ok=True)
        for name in dirs + files:
            source, copy = os.path.join(here, name), os.path.join(into, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), copy)
                if name in dirs:
                    dirs.remove(name)  # not walked into: the link stands for it
            elif name in files:
                if name.lower().endswith(SHARED_SUFFIXES):
                    os.link(source, copy)
                else:
                    shutil.copy2(source, copy)


def _remove_stale_sessions(sessions_dir):
    """Prefixes of sessions whose process has gone (killed, or the machine restarted)."""
    for name in os.listdir(sessions_dir) if os.path.isdir(sessions_dir) else []:
        pid = name.split("-")[0]
        if pid.isdigit() and not os.path.exists(f"/proc/{pid}"):
            shutil.rmtree(os.path.join(sessions_dir, name), ignore_errors=True)


class Session:
    """Xvfb on a free display and a Wine prefix of the session's own, held for the
    session.

    The prefix is linked from one template that every build shares (made once, under a
    lock). Having a wineserver, a desktop, a clipboard and an X display each, sessions
    share nothing: any number of them can run side by side.
    """

    def __init__(self):
        self.template = os.path.join(REPO, "build", "wine-prefix")
        self.sessions_dir = os.path.join(REPO, "build", "wine-sessions")
        self.prefix = os.path.join(self.sessions_dir, f"{os.getpid()}-{id(self):x}")
        self.procs = []
        self.xvfb = None
        self.probed = {}
        self.i386_starts = False
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # ANSI and console code page 932, as on a Japanese desktop.
            "LANG": "ja_JP.UTF-8",
            "LC_ALL": "ja_JP.UTF-8",
            "QEMU_RESERVED_VA": QEMU_RESERVED_VA,
        })
        self.env.pop("WINELOADER", None)

    def __enter__(self):
        os.makedirs(self.sessions_dir, exist_ok=True)
        try:
            self._start_xvfb()
            with open(self.template + ".lock", "w") as lock:
                fcntl.flock(lock, fcntl.LOCK_EX)
                self._ensure_template()
                self._install_wine_fonts()
                _remove_stale_sessions(self.sessions_dir)
                _link_prefix(self.template, self.prefix)
            self.env["WINEPREFIX"] = self.prefix
            self._keep_desktop()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def command(self, exe, *args):
        return [loader_for(exe), exe, *args]

    def require(self, exe):
        """Raises CannotRun, saying why, unless a probe of `exe`'s architecture ran here
        and printed its line. A 32-bit program without a working 32-bit Wine exits 0
        and prints nothing, so only what the probe prints counts."""
        machine = pe_machine(exe)
        if machine not in PROBE_COMPILERS:
            raise CannotRun(f"{exe}: machine {machine} is neither i386 nor x86-64")
        if machine not in self.probed:
            self.probed[machine] = self._probe_once_per_boot(machine)
        if self.probed[machine]:
            raise CannotRun(f"{exe}: {self.probed[machine]}")

    def _probe_once_per_boot(self, machine):
        """_probe, skipped when it already passed since the machine started, with the
        same loader, i386 interpreter and template prefix: under emulation it costs
        seconds of CPU, and every case would pay them."""
        kind_file = os.path.join(self.template, "miyo-prefix-kind")
        try:
            with open("/proc/sys/kernel/random/boot_id") as f:
                boot = f.read().strip()
            key = f"{boot} {i386_mode()} {os.path.getmtime(LOADERS[machine])} {os.path.getmtime(kind_file)}\n"
        except OSError:
            return self._probe(machine)
        stamp = os.path.join(PROBE_DIR, f"passed-{machine}")
        if os.path.exists(stamp) and open(stamp).read() == key:
            return None
        why = self._probe(machine)
        if why is None:
            os.makedirs(PROBE_DIR, exist_ok=True)
            with open(stamp + f".{os.getpid()}", "w") as f:
                f.write(key)
            os.replace(stamp + f".{os.getpid()}", stamp)
        return why

    def _probe(self, machine):
        """None when the probe ran and printed its line, else what went wrong."""
        loader = LOADERS[machine]
        if not os.access(loader, os.X_OK):
            package = "wine32:i386" if machine == "i386" else "wine64"
            return f"{loader} is not installed ({package}; run tools/install-deps)"
        if machine == "i386" and not self.i386_starts:
            return (f"the 32-bit loader {WINE32_LOADER} does not start (i386 code {i386_mode()}): "
                    "this kernel runs no i386 code and no qemu-i386 binfmt_misc entry works "
                    "(run tools/install-deps)")
        exe = probe_exe(machine)
        status, out = self.run([loader, exe], timeout=300)
        want = f"miyo-probe {PROBE_BITS[machine]}-bit acp=".encode()
        line = out.strip()
        how = f" (i386 code {i386_mode()})" if machine == "i386" else ""
        if status is None:
            return f"a {PROBE_BITS[machine]}-bit probe program did not end within 300 s under {loader}{how}"
        if status != 0 or not line.startswith(want):
            return (f"a {PROBE_BITS[machine]}-bit probe program under {loader}{how} exited {status} "
                    f"and printed {line!r}, not {want.decode()}...: this Wine cannot run "
                    f"{PROBE_BITS[machine]}-bit programs (run tools/install-deps)")
        acp = line[len(want):].decode(errors="replace")
        if acp != "932":
            return f"the ANSI code page under Wine is {acp}, not 932: the ja_JP.UTF-8 locale is missing"
        return None

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
            raise CannotRun("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def _keep_desktop(self):
        """Wine shuts its desktop down, and the clipboard with it, a few seconds after
        the last Windows process ends, and a 32-bit start under qemu takes longer than
        that. On Windows the clipboard outlives every program: a process that only
        waits keeps it so for the session."""
        self.popen([WINE64_LOADER, "cmd", "/c", "pause"], stdin=subprocess.PIPE,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _i386_loader_starts(self):
        if not os.access(WINE32_LOADER, os.X_OK):
            return False
        status, out = self.run([WINE32_LOADER, "--version"], timeout=120)
        return status == 0 and out.startswith(b"wine-")

    def _ensure_template(self):
        """Makes the template prefix, or makes it again when it was made for other
        loaders (one made by wine64 alone fails every 32-bit program with exit status 53)
        or by another version of Wine."""
        self.env["WINEPREFIX"] = self.template
        self.i386_starts = self._i386_loader_starts()
        # Made again after a Wine upgrade too: every session linked from an older Wine's
        # template would run `wineboot --update` through the shared links, each time.
        status, version = self.run([WINE64_LOADER, "--version"], timeout=60)
        kind = ("wow64" if self.i386_starts else "wine64") + " " + version.decode(errors="replace").strip()
        kind_file = os.path.join(self.template, "miyo-prefix-kind")
        made = None
        if os.path.exists(os.path.join(self.template, "system.reg")) and os.path.exists(kind_file):
            made = open(kind_file).read().strip()
        if made == kind:
            return
        shutil.rmtree(self.template, ignore_errors=True)
        os.makedirs(self.template)
        boot = ["wine"] if self.i386_starts else [WINE64_LOADER]
        status, _ = self.run(boot + ["wineboot", "-i"], timeout=600)
        self.stop_wine()
        if status != 0 or not os.path.exists(os.path.join(self.template, "system.reg")):
            raise CannotRun(f"the Wine prefix could not be made ({' '.join(boot)} wineboot -i: exit {status})")
        with open(kind_file, "w") as f:
            f.write(kind + "\n")

    def _install_wine_fonts(self):
        """Wine draws the title bars' buttons with its Marlett font, and this build looks
        for its own fonts only in C:\\windows\\Fonts, where wineboot puts none: without
        them the buttons are letters ("0 1 r"). Debian's fonts-wine has them."""
        fonts = os.path.join(self.template, "drive_c", "windows", "Fonts")
        if not os.path.isdir(WINE_FONTS) or not os.path.isdir(fonts):
            return
        for name in os.listdir(WINE_FONTS):
            if not os.path.exists(os.path.join(fonts, name)):
                shutil.copy2(os.path.join(WINE_FONTS, name), fonts)

    def popen(self, args, extra_env=None, **kwargs):
        """Starts a process in the session; `extra_env` adds variables, or with a value
        of None removes them."""
        env = dict(self.env)
        env.update(extra_env or {})
        env = {k: v for k, v in env.items() if v is not None}
        proc = subprocess.Popen(args, env=env, start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def run(self, args, input=b"", timeout=60, extra_env=None):
        """Runs to the end; returns (exit status, stdout bytes). None as status: timed out."""
        proc = self.popen(args, extra_env, stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return self.finish(proc, input, timeout)

    def finish(self, proc, input=None, timeout=60):
        """Waits for a process started by popen(); (exit status, stdout bytes), or
        (None, b"") once it outlived `timeout` and was ended by its process id."""
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
            if "DISPLAY" in self.env and os.path.isdir(self.prefix):
                self.stop_wine()
        except subprocess.TimeoutExpired:
            pass
        for proc in self.procs:
            _kill_group(proc)
        self._kill_prefix_processes()
        if self.xvfb:
            _kill_group(self.xvfb)
            self.xvfb = None
        shutil.rmtree(self.prefix, ignore_errors=True)


def verdict():
    """One line saying which Wine this machine ended with, from running the probes."""
    version = subprocess.run([WINE64_LOADER, "--version"], capture_output=True, text=True,
                             timeout=60).stdout.strip() if os.access(WINE64_LOADER, os.X_OK) else "no wine64"
    parts = []
    try:
        with Session() as session:
            for machine in ("i386", "x86-64"):
                bits = PROBE_BITS[machine]
                why = session._probe(machine)
                if why is None:
                    how = f", i386 code {i386_mode()}" if machine == "i386" else ""
                    parts.append(f"{bits}-bit programs run ({LOADERS[machine]}{how})")
                else:
                    parts.append(f"{bits}-bit programs CANNOT run: {why}")
    except CannotRun as why:
        parts.append(f"Wine cannot run here: {why}")
    print(f"install-deps: {version}: " + "; ".join(parts), flush=True)
    return 0


if __name__ == "__main__":
    if sys.argv[1:] == ["verdict"]:
        sys.exit(verdict())
    sys.exit(f"usage: {sys.argv[0]} verdict")
