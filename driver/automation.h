// The fixed sequence that drives TALMERINE, with every constant it uses.
// Texts are code page 932 byte strings: they go unchanged to the ANSI (A) functions,
// to CF_TEXT and to standard output. They are spelled as bytes so that every compiler
// produces the same bytes whatever its source and execution character sets; the text
// itself stands in the comment above each one.
#pragma once

#include "driver/desktop.h"

// "TALMERINE - ミヨ" (title looked up before and during the wait)
inline constexpr char TARGET_WINDOW_TITLE[] = "TALMERINE - \x83\x7E\x83\x88";
static_assert(sizeof TARGET_WINDOW_TITLE - 1 == 16, "TARGET_WINDOW_TITLE is 16 bytes in code page 932");

// "C:\Program Files\Kyt\Talmerine\Talmerine.exe"
inline constexpr char TARGET_EXE_PATH[] = "C:\\Program Files\\Kyt\\Talmerine\\Talmerine.exe";
static_assert(sizeof TARGET_EXE_PATH - 1 == 44, "TARGET_EXE_PATH is 44 bytes in code page 932");

// "C:\Program Files\Kyt\Talmerine\" (the trailing backslash belongs to the value)
inline constexpr char TARGET_WORK_DIR[] = "C:\\Program Files\\Kyt\\Talmerine\\";
static_assert(sizeof TARGET_WORK_DIR - 1 == 31, "TARGET_WORK_DIR is 31 bytes in code page 932");

// "星綴ミヨです。本を読むのが好きです。" (the self-introduction that is pasted)
inline constexpr char PASTE_TEXT[] = "\x90\xAF\x92\xD4\x83\x7E\x83\x88\x82\xC5\x82\xB7\x81\x42\x96\x7B\x82\xF0\x93\xC7\x82\xDE\x82\xCC\x82\xAA\x8D\x44\x82\xAB\x82\xC5\x82\xB7\x81\x42";
static_assert(sizeof PASTE_TEXT - 1 == 36, "PASTE_TEXT is 36 bytes in code page 932");

// "星綴ミヨを起動します\n"
inline constexpr char MSG_LAUNCHING[] = "\x90\xAF\x92\xD4\x83\x7E\x83\x88\x82\xF0\x8B\x4E\x93\xAE\x82\xB5\x82\xDC\x82\xB7\n";
static_assert(sizeof MSG_LAUNCHING - 1 == 21, "MSG_LAUNCHING is 21 bytes in code page 932");

// "Error: 実行できない\n"
inline constexpr char MSG_LAUNCH_FAILED[] = "Error: \x8E\xC0\x8D\x73\x82\xC5\x82\xAB\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_LAUNCH_FAILED - 1 == 20, "MSG_LAUNCH_FAILED is 20 bytes in code page 932");

// "."
inline constexpr char MSG_PROGRESS_DOT[] = ".";
static_assert(sizeof MSG_PROGRESS_DOT - 1 == 1, "MSG_PROGRESS_DOT is 1 bytes in code page 932");

// "\n"
inline constexpr char MSG_LINE_END[] = "\n";
static_assert(sizeof MSG_LINE_END - 1 == 1, "MSG_LINE_END is 1 bytes in code page 932");

// "ミヨが見つからない\n"
inline constexpr char MSG_NOT_FOUND[] = "\x83\x7E\x83\x88\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE7\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_NOT_FOUND - 1 == 19, "MSG_NOT_FOUND is 19 bytes in code page 932");

// "終了\n"
inline constexpr char MSG_DONE[] = "\x8F\x49\x97\xB9\n";
static_assert(sizeof MSG_DONE - 1 == 5, "MSG_DONE is 5 bytes in code page 932");

// "Error: ミヨを前面に出せない\n"
inline constexpr char MSG_NOT_FOREGROUND[] = "Error: \x83\x7E\x83\x88\x82\xF0\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xB9\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_NOT_FOREGROUND - 1 == 28, "MSG_NOT_FOREGROUND is 28 bytes in code page 932");

// "Error: クリップボードに書き込めない\n"
inline constexpr char MSG_CLIPBOARD_FAILED[] = "Error: \x83\x4E\x83\x8A\x83\x62\x83\x76\x83\x7B\x81\x5B\x83\x68\x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_CLIPBOARD_FAILED - 1 == 36, "MSG_CLIPBOARD_FAILED is 36 bytes in code page 932");

// "Error: キーを送れない\n"
inline constexpr char MSG_KEYS_FAILED[] = "Error: \x83\x4C\x81\x5B\x82\xF0\x91\x97\x82\xEA\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_KEYS_FAILED - 1 == 22, "MSG_KEYS_FAILED is 22 bytes in code page 932");

// "Error: キーが押されたまま\n"
inline constexpr char MSG_KEYS_HELD[] = "Error: \x83\x4C\x81\x5B\x82\xAA\x89\x9F\x82\xB3\x82\xEA\x82\xBD\x82\xDC\x82\xDC\n";
static_assert(sizeof MSG_KEYS_HELD - 1 == 26, "MSG_KEYS_HELD is 26 bytes in code page 932");

// "Error: 既に実行中\n"
inline constexpr char MSG_ALREADY_RUNNING[] = "Error: \x8A\xF9\x82\xC9\x8E\xC0\x8D\x73\x92\x86\n";
static_assert(sizeof MSG_ALREADY_RUNNING - 1 == 18, "MSG_ALREADY_RUNNING is 18 bytes in code page 932");

// "ミヨの応答を待っています\n" (TALMERINE's window is not reading its messages yet)
inline constexpr char MSG_WAITING_FOR_ANSWER[] = "\x83\x7E\x83\x88\x82\xCC\x89\x9E\x93\x9A\x82\xF0\x91\xD2\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB7\n";
static_assert(sizeof MSG_WAITING_FOR_ANSWER - 1 == 25, "MSG_WAITING_FOR_ANSWER is 25 bytes in code page 932");

// "Error: ミヨが応答しない\n"
inline constexpr char MSG_NOT_ANSWERING[] = "Error: \x83\x7E\x83\x88\x82\xAA\x89\x9E\x93\x9A\x82\xB5\x82\xC8\x82\xA2\n";
static_assert(sizeof MSG_NOT_ANSWERING - 1 == 24, "MSG_NOT_ANSWERING is 24 bytes in code page 932");

// "別の miyo-intro の終了を待っています\n"
inline constexpr char MSG_WAITING_FOR_OTHER_RUN[] = "\x95\xCA\x82\xCC miyo-intro \x82\xCC\x8F\x49\x97\xB9\x82\xF0\x91\xD2\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB7\n";
static_assert(sizeof MSG_WAITING_FOR_OTHER_RUN - 1 == 37, "MSG_WAITING_FOR_OTHER_RUN is 37 bytes in code page 932");

// "ミヨのダイアログが閉じるのを待っています\n"
inline constexpr char MSG_WAITING_FOR_DIALOG[] = "\x83\x7E\x83\x88\x82\xCC\x83\x5F\x83\x43\x83\x41\x83\x8D\x83\x4F\x82\xAA\x95\xC2\x82\xB6\x82\xE9\x82\xCC\x82\xF0\x91\xD2\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB7\n";
static_assert(sizeof MSG_WAITING_FOR_DIALOG - 1 == 41, "MSG_WAITING_FOR_DIALOG is 41 bytes in code page 932");

// "ミヨが前面に出るのを待っています\n" (Windows refused to bring TALMERINE forward; one
// click on its taskbar button, which then flashes, does it)
inline constexpr char MSG_WAITING_FOR_FRONT[] = "\x83\x7E\x83\x88\x82\xAA\x91\x4F\x96\xCA\x82\xC9\x8F\x6F\x82\xE9\x82\xCC\x82\xF0\x91\xD2\x82\xC1\x82\xC4\x82\xA2\x82\xDC\x82\xB7\n";
static_assert(sizeof MSG_WAITING_FOR_FRONT - 1 == 33, "MSG_WAITING_FOR_FRONT is 33 bytes in code page 932");

// "Error: ミヨのダイアログが開いたまま\n"
inline constexpr char MSG_DIALOG_OPEN[] = "Error: \x83\x7E\x83\x88\x82\xCC\x83\x5F\x83\x43\x83\x41\x83\x8D\x83\x4F\x82\xAA\x8A\x4A\x82\xA2\x82\xBD\x82\xDC\x82\xDC\n";
static_assert(sizeof MSG_DIALOG_OPEN - 1 == 36, "MSG_DIALOG_OPEN is 36 bytes in code page 932");

// "Error: ミヨが管理者として実行されている\n"
inline constexpr char MSG_TARGET_ELEVATED[] = "Error: \x83\x7E\x83\x88\x82\xAA\x8A\xC7\x97\x9D\x8E\xD2\x82\xC6\x82\xB5\x82\xC4\x8E\xC0\x8D\x73\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xE9\n";
static_assert(sizeof MSG_TARGET_ELEVATED - 1 == 40, "MSG_TARGET_ELEVATED is 40 bytes in code page 932");

// "Error: 他のプログラムがクリップボードを変えた\n"
inline constexpr char MSG_CLIPBOARD_CHANGED[] = "Error: \x91\xBC\x82\xCC\x83\x76\x83\x8D\x83\x4F\x83\x89\x83\x80\x82\xAA\x83\x4E\x83\x8A\x83\x62\x83\x76\x83\x7B\x81\x5B\x83\x68\x82\xF0\x95\xCF\x82\xA6\x82\xBD\n";
static_assert(sizeof MSG_CLIPBOARD_CHANGED - 1 == 46, "MSG_CLIPBOARD_CHANGED is 46 bytes in code page 932");

// Where the ANSI code page is not 932 every text above means other characters, so this
// one is plain ASCII, readable on a console of any code page. The code page found goes
// between its two halves, in decimal.
inline constexpr char MSG_WRONG_CODE_PAGE_BEFORE[] = "Error: code page for non-Unicode programs is ";
inline constexpr char MSG_WRONG_CODE_PAGE_AFTER[] = ", not 932 (Japanese)\n";
inline constexpr unsigned REQUIRED_ANSI_CODE_PAGE = 932;

// The clipboard text is tagged with this locale (Japanese, LANGID 0x0411), whose ANSI
// code page is that of the bytes: a Unicode program pasting CF_UNICODETEXT gets the
// sentence converted with code page 932, whatever the input language of the moment.
inline constexpr unsigned PASTE_TEXT_LOCALE = 0x0411;

// The mutex that lets one run at a time type into the desktop session.
inline constexpr char RUN_LOCK_NAME[] = "Local\\miyo-intro-run";

// Pauses and bounds, in milliseconds where they are times.
inline constexpr int POLL_LIMIT = 60;                        // lookups after a launch, one a second
inline constexpr unsigned POLL_INTERVAL_MS = 1000;            // a dot each, in every wait the user watches
inline constexpr unsigned SETTLE_AFTER_LAUNCH_MS = 3000;     // a new window is not ready for input at once
inline constexpr unsigned SETTLE_AFTER_CLIPBOARD_MS = 500;
inline constexpr unsigned PAUSE_BEFORE_ACTION_KEY_MS = 200;  // lets the paste land before F5
// Before each step that cannot be undone (replacing the clipboard, each burst of keys)
// TALMERINE must be ready as a whole; what is not, the program waits for, where the user
// or TALMERINE can put it right, and then checks everything again.
// A held Shift, Ctrl, ... : this long from the first time it is seen at a step.
inline constexpr unsigned MODIFIER_RELEASE_WAIT_MS = 2000;
inline constexpr unsigned MODIFIER_POLL_MS = 50;
// A refused release of Ctrl is tried again this often, for this long.
inline constexpr unsigned CTRL_RELEASE_RETRY_MS = 50;
inline constexpr unsigned CTRL_RELEASE_RETRY_LIMIT_MS = 500;
// The window's thread must answer a message within this long; past it, the user is told
// and the window gets this many more seconds, asked once a second. Both come out of one
// budget for the run (a window that replaces the first gets its own, once), spent by
// every question alike, so that a window that answers and stops again cannot stretch it.
inline constexpr unsigned RESPONSE_CHECK_MS = 1000;
inline constexpr unsigned RESPONSE_WAIT_SECONDS = 30;
// A modal dialog of TALMERINE's own: the user can answer it meanwhile.
inline constexpr unsigned DIALOG_WAIT_SECONDS = 30;
// Activation is partly asynchronous and can be refused: once asked for, the window must
// be in front at two checks in a row, this often, within this long; past it, the user is
// told (one click on TALMERINE's taskbar button brings it forward) and Windows is asked
// again once a second, for this many seconds; one budget for the run, as for the answer.
inline constexpr unsigned FOREGROUND_WAIT_MS = 1000;
inline constexpr unsigned FOREGROUND_POLL_MS = 50;
inline constexpr unsigned FRONT_WAIT_SECONDS = 30;
// Another run holding the desktop: waited for quietly this long, then, once the user
// has been told, up to this many seconds, a dot a second. Longer than the longest road
// of a run (a minute of lookups, the settle, then for a window and the one that replaces
// it 31 s each to answer, half a minute for its dialog, 31 s to come in front, the
// clipboard's retries, three waits for held modifiers and the pauses: about 194 s), so a
// copy waits out another that is starting TALMERINE.
inline constexpr unsigned RUN_LOCK_QUIET_WAIT_MS = 1000;
inline constexpr unsigned RUN_LOCK_WAIT_SECONDS = 220;

// Exit statuses.
inline constexpr int EXIT_KEYS_SENT = 0;
inline constexpr int EXIT_WINDOW_NOT_FOUND = 1;
// The keys were not sent, or not all of them, because they could not have reached
// TALMERINE safely: it is not in front, the clipboard kept or took other text, input is
// blocked, the user holds a modifier key down, TALMERINE does not answer, has a dialog
// open or runs elevated, another run kept the desktop for too long, or this Windows
// does not use code page 932 for ANSI text.
inline constexpr int EXIT_NOT_DELIVERED = 2;

// Runs the whole sequence once and returns the exit status.
int RunAutomation();
