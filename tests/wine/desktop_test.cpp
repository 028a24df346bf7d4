// The Win32 clipboard operation on a real Win32 implementation (run under Wine by
// CTest): the block it hands over, what the clipboard holds afterwards, what a Unicode
// program pastes, and a clipboard held by another window for less and for more than the
// retry time. Run with a user locale other than Japanese, under which a text placed
// without its locale is tagged, and converted for Unicode readers, otherwise.
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
    std::wstring unicode;    // CF_UNICODETEXT, as the system converts it for a reader
    bool hasLocale = false;
    LCID locale = 0;
    std::string formats;     // every format offered, in order
    bool onlyTextAndLocale = false;  // and what the system makes from them
};

// The sentence as a Unicode program must paste it.
const wchar_t SENTENCE_UTF16[] =
    L"\u661F\u7DB4\u30DF\u30E8\u3067\u3059\u3002\u672C\u3092\u8AAD\u3080\u306E\u304C\u597D\u304D\u3067\u3059\u3002";

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
    bool hasText = false, hasLocale = false, others = false;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        content.formats += (content.formats.empty() ? "" : ",") + std::to_string(format);
        hasText |= format == CF_TEXT;
        hasLocale |= format == CF_LOCALE;
        others |= format != CF_TEXT && format != CF_LOCALE && format != CF_OEMTEXT && format != CF_UNICODETEXT;
    }
    content.onlyTextAndLocale = hasText && hasLocale && !others;
    if (HANDLE data = GetClipboardData(CF_LOCALE)) {
        if (const LCID* id = static_cast<const LCID*>(GlobalLock(data))) {
            content.hasLocale = true;
            content.locale = *id;
            GlobalUnlock(data);
        }
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            content.unicode = text;
            GlobalUnlock(data);
        }
    }
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
    const wchar_t* unicode;
};

void SetsExactlyTheText(const TextCase& c) {
    PlaceOtherContent();
    int result = desktop::SetClipboardText(c.text, PASTE_TEXT_LOCALE);
    ClipboardContent content = ReadClipboard();
    Check(result == 0, std::string(c.name) + ": result 0");
    Check(content.hasText && content.text == std::string(c.text, c.length),
          std::string(c.name) + ": CF_TEXT is the text, byte for byte");
    Check(!content.hasPrivate, std::string(c.name) + ": the earlier content in another format is gone");
    Check(content.onlyTextAndLocale,
          std::string(c.name) + ": formats offered are CF_TEXT, CF_LOCALE and what they make (" + content.formats + ")");
    char locale[96];
    std::snprintf(locale, sizeof locale, ": CF_LOCALE is 0x%04lX (want 0x0411)", static_cast<unsigned long>(content.locale));
    Check(content.hasLocale && content.locale == 0x0411, c.name + std::string(locale));
    Check(content.unicode == c.unicode, std::string(c.name) + ": a Unicode program gets the text as code page 932 reads it");
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
    int result = desktop::SetClipboardText(PASTE_TEXT, PASTE_TEXT_LOCALE);
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
        {"empty text", "", 0, L""},
        {"the sentence", PASTE_TEXT, sizeof PASTE_TEXT - 1, SENTENCE_UTF16},
    };
    // Under a Japanese user locale an untagged text is read as code page 932 anyway, and
    // the checks of the tag could not fail.
    LCID user = GetUserDefaultLCID();
    char line[96];
    std::snprintf(line, sizeof line, "the user locale is 0x%04lX, not Japanese (run with LC_MESSAGES=en_US.UTF-8)",
                  static_cast<unsigned long>(user));
    Check(PRIMARYLANGID(LANGIDFROMLCID(user)) != LANG_JAPANESE, line);
    Check(GetACP() == 932, "the ANSI code page is 932");
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
