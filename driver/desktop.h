// The desktop operations that the sequence needs. desktop/ realises them on Win32;
// the host tests link a simulated desktop that realises the same declarations.
// Nothing here may pull in <windows.h>: the sequence builds and is tested on Linux.
#pragma once

#include <cstdint>

// A top-level window's HWND, or nullptr for none. Only compared and handed back.
using WindowHandle = void*;
// A NUL-terminated code page 932 byte string.
using CodePage932Text = const char*;
// A Windows virtual-key code.
using VirtualKeyCode = std::uint16_t;

// Platform values under names of their own: <windows.h> defines the platform's names
// as macros, which would rewrite these declarations in the files that include both.
inline constexpr int SHOW_NORMAL = 1;                 // SW_SHOWNORMAL
inline constexpr VirtualKeyCode KEY_CONTROL = 0x11;   // VK_CONTROL, side-neutral
inline constexpr VirtualKeyCode KEY_DELETE = 0x2E;    // VK_DELETE
inline constexpr VirtualKeyCode KEY_V = 0x56;
inline constexpr VirtualKeyCode KEY_F5 = 0x74;        // VK_F5
inline constexpr VirtualKeyCode KEY_OEM_2 = 0xBF;     // VK_OEM_2, "/?" on US layouts

namespace desktop {

// The next top-level window after `after` (nullptr: the first) in the order of windows,
// front to back, whose whole title is `title` (letter case aside), or nullptr.
WindowHandle FindTargetWindow(CodePage932Text title, WindowHandle after);
// True for this program's own console window and the window that owns it (Windows
// Terminal's): a console started from a shortcut carries the shortcut's name as title.
bool IsOwnConsole(WindowHandle window);
bool IsWindow(WindowHandle window);
// False while the window is disabled: a modal dialog of its own is open.
bool IsWindowEnabled(WindowHandle window);
// True once the window's thread has answered a message within `timeoutMs` (0: at most a
// millisecond, never without limit). False after it, at once for a thread the system
// already counts as hung, and for a window that no longer exists. It does not pace:
// callers wait out their own seconds.
bool AnswersWithin(WindowHandle window, unsigned timeoutMs);

// How the integrity level of the process that owns the window compares with this
// program's. Windows drops injected input to a window above it (UIPI), and SendInput
// still counts the events as sent.
enum class Integrity { NotAbove, Above, Unknown };
Integrity CompareIntegrity(WindowHandle window);
// Opens `exePath` through the shell and returns without waiting for it. When the
// shell refuses, MSG_LAUNCH_FAILED has been written.
void LaunchTarget(CodePage932Text exePath, CodePage932Text workDir);
// Asks for the window to be shown; does not wait for the window's thread to do it, which
// a thread that stops reading its messages would never do.
int ShowWindow(WindowHandle window, int showState);
int SetForegroundWindow(WindowHandle window);
WindowHandle GetForegroundWindow();

// 0 once the clipboard holds the text as CF_TEXT, tagged with `locale` (CF_LOCALE) so
// that readers of Unicode text convert it with that locale's code page; -1 when it
// holds no text of ours (its old content, or nothing).
int SetClipboardText(CodePage932Text text, unsigned locale);
// Counts every change of the clipboard's content, by any program.
unsigned ClipboardSequenceNumber();

// One synthetic key event each; the count of events the system took (1, or 0 when
// input is blocked).
unsigned SendKeyDown(VirtualKeyCode vk);
unsigned SendKeyUp(VirtualKeyCode vk);
// Press and release; true when both went in. A refused press is not followed by
// its release.
bool TapKey(VirtualKeyCode vk);
// Ctrl held around a tap of `vk`; true when all four events went in. Once Ctrl is
// down it is released whatever happened to the key in between, a refused release tried
// again for up to CTRL_RELEASE_RETRY_LIMIT_MS.
bool TapCtrlChord(VirtualKeyCode vk);

// True while Shift, Ctrl, Alt or either Windows key is physically held (or held by
// injected input): they would combine with the keys sent.
bool IsModifierKeyHeld();

// Takes the named mutex that serialises runs on this desktop session, waiting up to
// `waitMs` for its owner; a mutex left by an owner that died counts as taken. False
// when it could not be had within that time; it can be asked again.
bool TakeRunLock(CodePage932Text name, unsigned waitMs);
void ReleaseRunLock();

void Sleep(unsigned milliseconds);
// A monotonic clock in whole milliseconds, read finely (not in the 10-16 ms steps of the
// tick count), and a sleep until it has passed `deadlineMs`, so that a deadline set from
// one of its readings is met in full.
std::uint64_t NowMs();
void SleepUntil(std::uint64_t deadlineMs);

// The code page in which the ANSI (A) functions read and write text.
unsigned AnsiCodePage();

// Standard output, as bytes (never a format), and one character of standard input.
void WriteMessage(CodePage932Text text);
// Keys pressed before the question was asked (an Enter while the dots ran) do not
// answer it.
void ReadOneCharacter();

}  // namespace desktop
