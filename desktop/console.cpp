// Standard output and input of the console, and the pause.
#include <windows.h>

#include <cstdio>

#include "driver/desktop.h"

namespace desktop {

void WriteMessage(CodePage932Text text) {
    // stdout is a text-mode stream: each '\n' goes out as CR LF. The CRT writes a
    // console at once and buffers a pipe or file until exit.
    std::fputs(text, stdout);
}

void ReadOneCharacter() {
    // On a console this returns once the user presses Enter; at end of input, at once.
    std::getchar();
}

void Sleep(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace desktop
