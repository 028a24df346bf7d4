// The program's messages on a real console (run under Wine by CTest): written through
// desktop::WriteMessage to a console whose output code page is the one given, then read
// back from the screen as characters: the same on 932 and on any other (a prompt after
// "chcp 65001"), and the console's code page left as it was.
//   console_test CODEPAGE
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "driver/automation.h"

namespace {

// 星綴ミヨを起動します / .. / 終了, as the console should show them.
const wchar_t* const EXPECTED_LINES[] = {L"\u661F\u7DB4\u30DF\u30E8\u3092\u8D77\u52D5\u3057\u307E\u3059", L"..",
                                         L"\u7D42\u4E86"};

std::wstring ScreenLine(HANDLE screen, SHORT row) {
    wchar_t cells[80];
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, cells, 80, COORD{0, row}, &read);
    std::wstring line(cells, read);
    line.erase(line.find_last_not_of(L' ') + 1);
    return line;
}

std::string Hex(const std::wstring& text) {
    std::string hex;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex.empty() ? "(empty)" : hex;
}

}  // namespace

int main(int argc, char** argv) {
    UINT codePage = argc == 2 ? static_cast<UINT>(std::strtoul(argv[1], nullptr, 10)) : 0;
    // Results go to the pipe that CTest reads; the messages to a console of our own.
    FILE* results = _fdopen(_dup(_fileno(stdout)), "w");
    FreeConsole();
    if (!codePage || !AllocConsole() || !SetConsoleOutputCP(codePage)) {
        std::fprintf(results, "FAIL no console with output code page %u\n0 passed, 1 failed\n", codePage);
        return 1;
    }
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    // The C runtime's stdout too, as for a double-click. (freopen makes its own handle the
    // standard one, opened for writing only, which is not how a console hands them out.)
    freopen("CONOUT$", "w", stdout);
    SetStdHandle(STD_OUTPUT_HANDLE, screen);
    SetConsoleCursorPosition(screen, COORD{0, 0});

    desktop::WriteMessage(MSG_LAUNCHING);
    desktop::WriteMessage(MSG_PROGRESS_DOT);
    desktop::WriteMessage(MSG_PROGRESS_DOT);
    desktop::WriteMessage(MSG_LINE_END);
    desktop::WriteMessage(MSG_DONE);
    std::fflush(stdout);

    int passed = 0, failed = 0;
    for (SHORT row = 0; row < 3; row++) {
        std::wstring got = ScreenLine(screen, row);
        bool ok = got == EXPECTED_LINES[row];
        std::fprintf(results, "%s line %d on a console of code page %u: %s\n", ok ? "ok  " : "FAIL", row + 1,
                     codePage, ok ? "as written" : ("got " + Hex(got) + "want " + Hex(EXPECTED_LINES[row])).c_str());
        (ok ? passed : failed)++;
    }
    UINT after = GetConsoleOutputCP();
    bool kept = after == codePage;
    std::fprintf(results, "%s the console's code page stays %u (now %u)\n", kept ? "ok  " : "FAIL", codePage, after);
    (kept ? passed : failed)++;
    std::fprintf(results, "%d passed, %d failed\n", passed, failed);
    std::fclose(results);
    return failed ? 1 : 0;
}
