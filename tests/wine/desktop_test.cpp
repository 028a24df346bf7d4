// The Win32 clipboard operation on a real Win32 implementation (run under Wine by
// CTest): the block it hands over, what the clipboard holds afterwards, and a clipboard
// held by another window for less and for more than the retry time.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "driver/automation.h"

namespace {

int passed;
int failed;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    (ok ? passed : failed)++;
}

struct ClipboardContent {
    bool opened = false;
    bool hasText = false;
    std::string text;        // up to the first NUL
    std::string afterText;   // the rest of the block as GlobalSize gives it
    bool hasPrivate = false;
};

UINT PrivateFormat() {
    return RegisterClipboardFormatA("MiyoDesktopTestPrivate");
}

ClipboardContent ReadClipboard() {
    ClipboardContent content;
    if (!OpenClipboard(nullptr)) {
        return content;
    }
    content.opened = true;
    content.hasPrivate = IsClipboardFormatAvailable(PrivateFormat());
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        const char* bytes = static_cast<const char*>(GlobalLock(data));
        if (bytes) {
            content.hasText = true;
            content.text = bytes;
            SIZE_T size = GlobalSize(data);
            if (size > content.text.size() + 1) {
                content.afterText.assign(bytes + content.text.size() + 1, size - content.text.size() - 1);
            }
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return content;
}

void PlaceOtherContent() {
    if (!OpenClipboard(nullptr)) {
        return;
    }
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
    std::memcpy(GlobalLock(block), "private", 8);
    GlobalUnlock(block);
    SetClipboardData(PrivateFormat(), block);
    CloseClipboard();
}

// Another program's window holding the clipboard open: a thread with a window of its
// own as owner (Wine lets anyone open a clipboard held with no owner window).
struct Holder {
    DWORD holdMs;
    HANDLE holding;
};

DWORD WINAPI HoldClipboard(void* param) {
    Holder* holder = static_cast<Holder*>(param);
    HWND owner = CreateWindowA("STATIC", "holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    bool opened = OpenClipboard(owner);
    SetEvent(holder->holding);
    if (opened) {
        Sleep(holder->holdMs);
        CloseClipboard();
    }
    DestroyWindow(owner);
    return opened ? 0 : 1;
}

struct TextCase {
    const char* name;
    const char* text;
    size_t length;
};

void SetsExactlyTheText(const TextCase& c) {
    PlaceOtherContent();
    int result = desktop::SetClipboardText(c.text);
    ClipboardContent content = ReadClipboard();
    Check(result == 0, std::string(c.name) + ": result 0");
    Check(content.hasText && content.text == std::string(c.text, c.length),
          std::string(c.name) + ": CF_TEXT is the text, byte for byte");
    Check(!content.hasPrivate, std::string(c.name) + ": the earlier content in another format is gone");
    // The block is the text's length plus 256 bytes: the terminator and 255 zeros.
    Check(content.afterText == std::string(255, '\0'),
          std::string(c.name) + ": the block ends in exactly 255 zero bytes after the terminator");
}

struct BusyCase {
    const char* name;
    DWORD holdMs;
    int wantResult;
    DWORD minMs;
    DWORD maxMs;
};

void WaitsForABusyClipboard(const BusyCase& c) {
    PlaceOtherContent();
    Holder holder = {c.holdMs, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &holder, 0, nullptr);
    WaitForSingleObject(holder.holding, 5000);
    DWORD start = GetTickCount();
    int result = desktop::SetClipboardText(PASTE_TEXT);
    DWORD took = GetTickCount() - start;
    WaitForSingleObject(thread, 10000);
    DWORD holderExit = 1;
    GetExitCodeThread(thread, &holderExit);
    CloseHandle(thread);
    CloseHandle(holder.holding);
    ClipboardContent content = ReadClipboard();
    char line[160];
    std::snprintf(line, sizeof line, "%s: result %d after %lu ms (want %d, %lu..%lu ms)", c.name, result,
                  static_cast<unsigned long>(took), c.wantResult, static_cast<unsigned long>(c.minMs),
                  static_cast<unsigned long>(c.maxMs));
    Check(holderExit == 0, std::string(c.name) + ": the other window held the clipboard");
    Check(result == c.wantResult && took >= c.minMs && took <= c.maxMs, line);
    bool placed = content.hasText && content.text == PASTE_TEXT && !content.hasPrivate;
    Check(placed == (c.wantResult == 0), std::string(c.name) +
                                             (c.wantResult == 0 ? ": the text went in" : ": the old content stayed"));
}

}  // namespace

int main() {
    const TextCase texts[] = {
        {"empty text", "", 0},
        {"the sentence", PASTE_TEXT, sizeof PASTE_TEXT - 1},
    };
    for (const TextCase& c : texts) {
        SetsExactlyTheText(c);
    }
    // The retries last about a second; the bounds are loose for a shared machine.
    const BusyCase busy[] = {
        {"held 300 ms", 300, 0, 250, 900},
        {"held 3000 ms", 3000, -1, 950, 2500},
    };
    for (const BusyCase& c : busy) {
        WaitsForABusyClipboard(c);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed || !passed ? 1 : 0;
}
