#!/usr/bin/env python3
"""The program's own cost under Wine, beside two baselines.

Usage: bench.py BUILD_DIR JSON_OUT [--win32 BUILD_DIR] [--runs N] [--launch-runs N] [--check]

BUILD_DIR is the 64-bit build, run natively under wine64: under emulation the CPU time
would be qemu's, not the program's. --win32 adds the 32-bit program's window-present
runs under 32-bit Wine, without a budget.
Every interval budget is a difference against the same-calls baseline of the same run,
which makes the same platform calls with the same pauses: what the program adds to them.

Times come from two clocks that agree to the millisecond: the stand-in's GetTickCount
(when it sees the clipboard change and each key) and this script's CLOCK_MONOTONIC_RAW
(when a program is started and when it has exited).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
import e2e  # noqa: E402
import winenv  # noqa: E402

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll"}
EXE_BUDGET_BYTES = 48 * 1024
OVER_BASELINE_BUDGET_MS = 15
START_TO_CLIPBOARD_ALLOWANCE_MS = 20


def summary(values):
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "n": len(values)}


def timed_run(case, exe):
    started = e2e.now_ms()
    status, out = case.session.run(case.session.command(exe), input=b"", timeout=60)
    return started, e2e.now_ms(), status


def phases(log, started, ended):
    """The phases of one run, from the stand-in's log lines at or after `started`."""
    keys = [t for t, _ in log.all("key") if t >= started]
    changes = [t for t, _ in log.all("clipboard-changed") if started <= t <= (keys[0] if keys else ended)]
    if len(keys) < 12 or not changes:
        return None
    keys = keys[-12:]
    return {
        "start_to_clipboard": changes[-1] - started,
        "clipboard_to_first_key": keys[0] - changes[-1],
        "keys": keys[11] - keys[0],
        "last_key_to_exit": ended - keys[11],
        "first_to_tenth_key": keys[9] - keys[0],
        "eleventh_to_twelfth_key": keys[11] - keys[10],
        "ctrl_release_to_f5": keys[10] - keys[9],
        "wall": ended - started,
    }


def footprint(build_dir, exe):
    objdump = "i686-w64-mingw32-objdump" if winenv.pe_machine(exe) == "i386" else "x86_64-w64-mingw32-objdump"
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=60).stdout
    dlls = sorted(line.split(":", 1)[1].strip() for line in headers.splitlines() if "DLL Name:" in line)
    return {"exe_bytes": os.path.getsize(exe), "imports": dlls}


def measure(build_dir, runs, launch_runs, win32_exe=None, win32_runs=3):
    exe = os.path.join(build_dir, "miyo-intro.exe")
    empty = os.path.join(build_dir, "bench", "bench_empty.exe")
    same_calls = os.path.join(build_dir, "bench", "bench_same_calls.exe")
    present = {"miyo-intro": [], "same_calls": [], "empty": []}
    launch = []
    win32 = []
    with winenv.Session() as session:
        for program in (exe, empty, same_calls) + ((win32_exe,) if win32_exe else ()):
            session.require(program)
        case = e2e.Case(session, build_dir, "bench")
        case.install_standin()
        case.start_standin("standin")
        log_path = case.log_path("standin")
        # One run of each first, unmeasured: Wine's first clipboard use in a prefix costs more.
        for program in (exe, same_calls, empty):
            timed_run(case, program)
        for _ in range(runs):
            for name, program in (("miyo-intro", exe), ("empty", empty), ("same_calls", same_calls)):
                started, ended, status = timed_run(case, program)
                time.sleep(0.3)  # let the stand-in log the last keys
                if name == "empty":
                    present[name].append({"wall": ended - started})
                    continue
                got = phases(e2e.Log(log_path), started, ended) if status == 0 else None
                if got is None:
                    raise SystemExit(f"bench: a run of {name} did not deliver the twelve keys (status {status})")
                present[name].append(got)
        for _ in range(win32_runs if win32_exe else 0):
            started, ended, status = timed_run(case, win32_exe)
            time.sleep(0.3)
            got = phases(e2e.Log(log_path), started, ended) if status == 0 else None
            if got is None:
                raise SystemExit(f"bench: a run of the 32-bit program did not deliver the twelve keys (status {status})")
            win32.append(got)
        session.stop_wine()
        for i in range(launch_runs):
            case.install_standin()
            log_name = f"launch{i}"
            status, _ = case.run_program(env=case.standin_env(log_name, delay_ms=1500))
            case.wait_for(log_name, "action", 5)
            log = e2e.Log(case.log_path(log_name))
            window_at, _ = log.first("window")
            keys = [t for t, _ in log.all("key")]
            if status != 0 or window_at is None or not keys:
                raise SystemExit(f"bench: launch run {i} failed (status {status})")
            launch.append(keys[0] - window_at)
            session.stop_wine()
    return present, launch, win32


def report(build_dir, present, launch, win32, win32_exe):
    def column(name, key):
        return summary([run[key] for run in present[name]])

    def over_baseline(key):
        return column("miyo-intro", key)["median"] - column("same_calls", key)["median"]

    result = {
        "build": os.path.basename(os.path.normpath(build_dir)),
        "runs": len(present["miyo-intro"]),
        "over_baseline_ms": {key: over_baseline(key) for _, key, _ in ROWS},
        "phases_ms": {
            name: {key: column(name, key) for key in present[name][0]} for name in present
        },
        "launch_window_to_first_key_ms": summary(launch) if launch else None,
        "win32": {
            "exe": win32_exe,
            "runs": len(win32),
            "start_to_clipboard_ms": summary([r["start_to_clipboard"] for r in win32]),
            "clipboard_to_first_key_ms": summary([r["clipboard_to_first_key"] for r in win32]),
        } if win32 else None,
    }
    # The footprint is the shipped program's where it was given.
    result["footprint_of"] = win32_exe or os.path.join(build_dir, "miyo-intro.exe")
    result.update(footprint(build_dir, result["footprint_of"]))
    return result


def fmt(s):
    return f"{s['median']:>6} {s['min']:>6} {s['max']:>6}"


ROWS = [
    # (label, key, pause that both the program and the same-calls baseline sleep there:
    # before the clipboard, the second look at the foreground, 50 ms after the first)
    ("start -> clipboard", "start_to_clipboard", 50),
    ("clipboard change -> first key", "clipboard_to_first_key", 500),
    ("Ctrl release -> F5", "ctrl_release_to_f5", 200),
    ("keys 1 -> 10", "first_to_tenth_key", 0),
    ("keys 11 -> 12", "eleventh_to_twelfth_key", 0),
]


def print_table(r):
    print(f"Window-present runs: {r['runs']} of each program, alternating (build {r['build']}, "
          "64-bit, natively under wine64); milliseconds")
    print(f"{'interval':32}{'miyo-intro':>18}{'same_calls':>18}{'pause':>7}{'over baseline':>15}")
    for label, key, pause in ROWS:
        ours, base = r["phases_ms"]["miyo-intro"][key], r["phases_ms"]["same_calls"][key]
        cells = [f"{c['median']} ({c['min']}-{c['max']})" for c in (ours, base)]
        print(f"{label:32}{cells[0]:>18}{cells[1]:>18}{pause:>7}{r['over_baseline_ms'][key]:>15}")
    print("(medians, min-max in brackets; over baseline = miyo-intro - same_calls, both making the pause)")
    print()
    names = ["miyo-intro", "same_calls", "empty"]
    print(f"{'phase (median, min-max)':28}" + "".join(f"{n:>20}" for n in names))
    for key in ["start_to_clipboard", "clipboard_to_first_key", "keys", "last_key_to_exit", "wall"]:
        cells = []
        for n in names:
            s = r["phases_ms"][n].get(key)
            cells.append(f"{s['median']:>6} ({s['min']}-{s['max']})" if s else "-")
        print(f"{key.replace('_', ' '):28}" + "".join(f"{c:>20}" for c in cells))
    print()
    if r["launch_window_to_first_key_ms"]:
        print(f"after a launch, window shown -> first key (no budget): {fmt(r['launch_window_to_first_key_ms'])}"
              f" over {r['launch_window_to_first_key_ms']['n']} runs")
    w = r["win32"]
    if w:
        print(f"32-bit program, window present, under 32-bit Wine (i386 code {winenv.i386_mode()}; no budget), "
              f"{w['runs']} runs, median (min-max): start -> clipboard {w['start_to_clipboard_ms']['median']} "
              f"({w['start_to_clipboard_ms']['min']}-{w['start_to_clipboard_ms']['max']}) ms, clipboard -> first key "
              f"{w['clipboard_to_first_key_ms']['median']} ({w['clipboard_to_first_key_ms']['min']}-"
              f"{w['clipboard_to_first_key_ms']['max']}) ms")
    print(f"{r['footprint_of']}: {r['exe_bytes']} bytes stripped; imports {', '.join(r['imports'])}")


def check(r):
    budgets = [(f"{label}, over the same-calls baseline", r["over_baseline_ms"][key],
                START_TO_CLIPBOARD_ALLOWANCE_MS if key == "start_to_clipboard" else OVER_BASELINE_BUDGET_MS)
               for label, key, _ in ROWS]
    budgets.append(("exe bytes", r["exe_bytes"], EXE_BUDGET_BYTES))
    failed = 0
    for what, value, budget in budgets:
        ok = value <= budget
        failed += not ok
        print(f"{'ok  ' if ok else 'OVER'} {what}: {value} (budget {budget})")
    imports_ok = {d.lower() for d in r["imports"]} <= ALLOWED_DLLS
    failed += not imports_ok
    print(f"{'ok  ' if imports_ok else 'OVER'} imports only KERNEL32, USER32, SHELL32, ADVAPI32, msvcrt")
    print(f"{len(budgets) + 1 - failed} passed, {failed} failed")
    return failed == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("json_out")
    parser.add_argument("--win32", help="the 32-bit build, for one line without a budget")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--launch-runs", type=int, default=3)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    win32_exe = os.path.join(args.win32, "miyo-intro.exe") if args.win32 else None
    try:
        present, launch, win32 = measure(args.build_dir, args.runs, args.launch_runs, win32_exe)
    except winenv.CannotRun as why:
        print(f"bench: cannot run here: {why}")
        return 3
    result = report(args.build_dir, present, launch, win32, win32_exe)
    os.makedirs(os.path.dirname(os.path.abspath(args.json_out)), exist_ok=True)
    with open(args.json_out, "w") as f:
        json.dump(result, f, indent=2)
    print_table(result)
    print(f"\nJSON: {args.json_out}")
    if args.check:
        return 0 if check(result) else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
