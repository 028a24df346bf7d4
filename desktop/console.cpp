// Standard output and input of the console, the pauses and the clock, and the code page
// of ANSI text.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "driver/desktop.h"

namespace {

constexpr UINT TEXT_CODE_PAGE = 932;

// Decided at the first message. (A function-local static would pull the C++ runtime's
// thread-safe guard, and with it most of libstdc++, into the exe.)
bool consoleChecked;
HANDLE console;

// A console is written in UTF-16, converted from code page 932: it then shows the same
// characters whatever its output code page (a prompt after "chcp 65001" would show the
// bytes as other characters), and its code page, which belongs to the user's shell, is
// left as it is. (Under Wine the C runtime's writes to a code page 932 console also came
// out one byte per character.) A pipe or a file gets the bytes as they are.
HANDLE OutputConsole() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    return out && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode) ? out : nullptr;
}

void WriteConsoleUnicode(HANDLE console, CodePage932Text text) {
    wchar_t wide[512];
    int length = ::MultiByteToWideChar(TEXT_CODE_PAGE, 0, text, -1, wide, 512);
    // The text stream's CR LF for each line end.
    wchar_t line[1024];
    int used = 0;
    for (int i = 0; i + 1 < length && used + 2 < 1024; i++) {
        if (wide[i] == L'\n') {
            line[used++] = L'\r';
        }
        line[used++] = wide[i];
    }
    DWORD written;
    ::WriteConsoleW(console, line, static_cast<DWORD>(used), &written, nullptr);
}

}  // namespace

namespace desktop {

void WriteMessage(CodePage932Text text) {
    if (!consoleChecked) {
        consoleChecked = true;
        console = OutputConsole();
    }
    if (console) {
        WriteConsoleUnicode(console, text);  // at once
        return;
    }
    // stdout is a text-mode stream: each '\n' goes out as CR LF. The CRT buffers a pipe
    // or file until exit.
    std::fputs(text, stdout);
}

void ReadOneCharacter() {
    // A pipe's output waits in the C runtime's buffer: a launcher reading it must see the
    // message while this program waits for its answer.
    std::fflush(stdout);
    // An Enter pressed while the dots ran is already in a console's input and would end
    // the read at once, the message unread.
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (in && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode)) {
        ::FlushConsoleInputBuffer(in);
    }
    // On a console this returns once the user presses Enter; at end of input, at once.
    std::getchar();
}

void Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

std::uint64_t NowMs() {
    // GetTickCount moves in steps of 10-16 ms: a second paced by its differences can
    // come up to a step short, every second.
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart / frequency.QuadPart * 1000 +
                                      now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

void SleepUntil(std::uint64_t deadlineMs) {
    // Sleep may end a little early (timer resolution); the clock decides. Until it reads
    // past the deadline: a deadline set from a reading of this clock, which drops the
    // fraction of its millisecond, is then met in full.
    for (std::uint64_t now = NowMs(); now <= deadlineMs; now = NowMs()) {
        ::Sleep(static_cast<DWORD>(deadlineMs - now + 1));
    }
}

unsigned AnsiCodePage() {
    return ::GetACP();
}

}  // namespace desktop
