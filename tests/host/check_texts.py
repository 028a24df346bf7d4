#!/usr/bin/env python3
"""Checks the compiled texts against Python's own code page 932 encoding of them.

Usage: check_texts.py DUMP_PROGRAM [EMULATOR...]
The program prints NAME and hex bytes per line; each must equal the cp932 bytes of the
text below, with the byte count beside it.
"""
import subprocess
import sys

EXPECTED = {
    "TARGET_WINDOW_TITLE": ("TALMERINE - ミヨ", 16),
    "TARGET_EXE_PATH": ("C:\\Program Files\\Kyt\\Talmerine\\Talmerine.exe", 44),
    "TARGET_WORK_DIR": ("C:\\Program Files\\Kyt\\Talmerine\\", 31),
    "PASTE_TEXT": ("星綴ミヨです。本を読むのが好きです。", 36),
    "MSG_LAUNCHING": ("星綴ミヨを起動します\n", 21),
    "MSG_LAUNCH_FAILED": ("Error: 実行できない\n", 20),
    "MSG_PROGRESS_DOT": (".", 1),
    "MSG_LINE_END": ("\n", 1),
    "MSG_NOT_FOUND": ("ミヨが見つからない\n", 19),
    "MSG_DONE": ("終了\n", 5),
    "MSG_NOT_FOREGROUND": ("Error: ミヨを前面に出せない\n", 28),
    "MSG_CLIPBOARD_FAILED": ("Error: クリップボードに書き込めない\n", 36),
    "MSG_KEYS_FAILED": ("Error: キーを送れない\n", 22),
    "MSG_KEYS_HELD": ("Error: キーが押されたまま\n", 26),
    "MSG_ALREADY_RUNNING": ("Error: 既に実行中\n", 18),
    "MSG_WAITING_FOR_ANSWER": ("ミヨの応答を待っています\n", 25),
    "MSG_NOT_ANSWERING": ("Error: ミヨが応答しない\n", 24),
    "MSG_WAITING_FOR_OTHER_RUN": ("別の miyo-intro の終了を待っています\n", 37),
    "MSG_WAITING_FOR_DIALOG": ("ミヨのダイアログが閉じるのを待っています\n", 41),
    "MSG_WAITING_FOR_FRONT": ("ミヨが前面に出るのを待っています\n", 33),
    "MSG_DIALOG_OPEN": ("Error: ミヨのダイアログが開いたまま\n", 36),
    "MSG_TARGET_ELEVATED": ("Error: ミヨが管理者として実行されている\n", 40),
    "MSG_CLIPBOARD_CHANGED": ("Error: 他のプログラムがクリップボードを変えた\n", 46),
    "MSG_WRONG_CODE_PAGE_BEFORE": ("Error: code page for non-Unicode programs is ", 45),
    "MSG_WRONG_CODE_PAGE_AFTER": (", not 932 (Japanese)\n", 21),
    "RUN_LOCK_NAME": ("Local\\miyo-intro-run", 20),
}


def main():
    run = subprocess.run(sys.argv[1:], capture_output=True, timeout=300)
    if run.returncode != 0:
        # The emulator says why it could not run the program; that is a failure too.
        print(run.stdout.decode(errors="replace"), end="")
        print(f"FAIL: {' '.join(sys.argv[1:])} exited {run.returncode}")
        return 1
    out = run.stdout
    compiled = {}
    for line in out.decode("ascii").splitlines():
        name, *hexes = line.split()
        compiled[name] = bytes(int(h, 16) for h in hexes)
    failed = 0
    for name, (text, count) in EXPECTED.items():
        want = text.encode("cp932")
        got = compiled.get(name)
        if len(want) != count or got != want:
            failed += 1
            print(f"FAIL {name}: compiled {got!r}, want {want!r} ({count} bytes)")
    missing = set(compiled) - set(EXPECTED)
    if missing:
        failed += 1
        print("FAIL: texts not checked here:", sorted(missing))
    passed = len(EXPECTED) - failed
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not compiled else 0


if __name__ == "__main__":
    sys.exit(main())
