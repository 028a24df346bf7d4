// The Win32 desktop operations on a real Win32 implementation (run under Wine by CTest),
// where the host tests' simulated desktop stands in for them. The clipboard: the block it
// hands over, what the clipboard holds afterwards, what a Unicode program pastes, its
// sequence number, and a clipboard held by another window for less and for more than the
// retry time (run with a user locale other than Japanese, under which a text placed
// without its locale is tagged, and converted for Unicode readers, otherwise). The
// window: lookups past a window, a disabled one, round trips, the integrity check, and
// the waits' pacing against a thread that reads no messages. Each modifier key held,
// and the run lock released, abandoned and kept.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/automation.h"
#include "driver/waits.h"

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

// Milliseconds by QueryPerformanceCounter, independent of the clock under test.
double PreciseMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A window whose thread stops reading its messages once it has made it.
struct Silent {
    DWORD silentMs;
    HANDLE made;
    HWND window;
};

DWORD WINAPI MakeWindowThenReadNothing(void* param) {
    Silent* silent = static_cast<Silent*>(param);
    silent->window = CreateWindowA("STATIC", "miyo silent", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    SetEvent(silent->made);
    Sleep(silent->silentMs);
    DestroyWindow(silent->window);
    return 0;
}

void WindowOperations() {
    const char title[] = "miyo desktop test twin";
    HWND first = CreateWindowA("STATIC", title, WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    HWND second = CreateWindowA("STATIC", title, WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    WindowHandle top = desktop::FindTargetWindow(title, nullptr);
    WindowHandle next = desktop::FindTargetWindow(title, top);
    Check((top == first && next == second) || (top == second && next == first),
          "two windows with the title: the lookup after the first finds the other");
    Check(desktop::FindTargetWindow(title, next) == nullptr, "and after the last, none");

    EnableWindow(first, FALSE);
    bool disabled = !desktop::IsWindowEnabled(first);
    EnableWindow(first, TRUE);
    Check(disabled && desktop::IsWindowEnabled(first), "a disabled window reads as disabled, enabled again as enabled");
    Check(desktop::AnswersWithin(first, 1000), "a window of a thread that reads its messages answers");
    // Wine runs every process at one level, even with requireAdministrator: no test here
    // can show a window above; the comparison's direction is tested on the host.
    Check(desktop::CompareIntegrity(first) == desktop::Integrity::NotAbove,
          "a window of this process reads as not above it (its level and ours both read)");
    DestroyWindow(second);
    double start = PreciseMs();
    bool answered = desktop::AnswersWithin(second, 1000);
    double took = PreciseMs() - start;
    Check(!desktop::IsWindow(second) && !answered && took < 100,
          Format("a destroyed window: not a window, no answer, at once (%.0f ms)", took));
    Check(desktop::CompareIntegrity(second) == desktop::Integrity::Unknown, "a destroyed window's integrity is unknown");
    DestroyWindow(first);
}

// The waits' pacing: seconds end at deadlines on a fine clock, so against a thread that
// reads no messages (hung after 5 s, when SendMessageTimeout returns at once) a wait of
// N seconds lasts N seconds, not N short ones. Deadlines set from one reading overshoot
// rather than come up short on a coarse clock, so the clock's fineness is checked apart.
void WaitsLastAsLongAsTheySay() {
    // The tick count moves in steps of 10-16 ms: about 13-20 distinct readings in 200 ms.
    int readings = 0;
    std::uint64_t last = desktop::NowMs(), end = last + 200;
    for (std::uint64_t now = last; now < end; now = desktop::NowMs()) {
        readings += now != last;
        last = now;
    }
    Check(readings >= 150, Format("the waits' clock moves by the millisecond: %d distinct readings in 200 ms", readings));

    const unsigned seconds = 12;
    Silent silent = {(seconds + 1) * 1000, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    HANDLE thread = CreateThread(nullptr, 0, MakeWindowThenReadNothing, &silent, 0, nullptr);
    WaitForSingleObject(silent.made, 5000);
    // Not yet counted as hung: a limit of 0 must not become no limit.
    double start = PreciseMs();
    bool answeredAtOnce = desktop::AnswersWithin(silent.window, 0);
    double took = PreciseMs() - start;
    Check(!answeredAtOnce && took < 100,
          Format("a limit of 0 to a thread silent for less than 5 s: no answer, at once (%.0f ms)", took));
    start = PreciseMs();
    int asked = 0;
    bool answered = DotEachSecondUntil(seconds, [&](std::uint64_t endOfSecond) {
        asked++;
        return desktop::AnswersWithin(silent.window, MsUntil(endOfSecond));
    });
    took = PreciseMs() - start;
    std::printf("\n");
    Check(!answered && asked == static_cast<int>(seconds) && took >= seconds * 1000.0 && took <= seconds * 1000.0 + 150,
          Format("%u seconds of dots against a window that reads no messages: %d questions, %.1f ms by "
                 "QueryPerformanceCounter (%u000..%u150)", seconds, asked, took, seconds, seconds));
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(silent.made);
}

// Each modifier held (injected down), then let go.
void ModifiersHeld() {
    const struct {
        const char* name;
        VirtualKeyCode vk;
    } modifiers[] = {{"Shift", VK_SHIFT}, {"Ctrl", VK_CONTROL}, {"Alt", VK_MENU}, {"left Windows", VK_LWIN},
                     {"right Windows", VK_RWIN}};
    Check(!desktop::IsModifierKeyHeld(), "no modifier held at the start");
    for (const auto& modifier : modifiers) {
        desktop::SendKeyDown(modifier.vk);
        bool held = desktop::IsModifierKeyHeld();
        desktop::SendKeyUp(modifier.vk);
        bool released = !desktop::IsModifierKeyHeld();
        Check(held && released, std::string(modifier.name) + ": held while down, not once up");
    }
}

const char LOCK_NAME[] = "Local\\miyo-desktop-test-lock";

struct LockHolder {
    HANDLE taken;
    HANDLE letGo;  // nullptr: end while holding it
};

DWORD WINAPI HoldLock(void* param) {
    LockHolder* holder = static_cast<LockHolder*>(param);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, LOCK_NAME);
    DWORD waited = WaitForSingleObject(mutex, 5000);
    SetEvent(holder->taken);
    if (holder->letGo) {
        WaitForSingleObject(holder->letGo, 10000);
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

// Another thread takes the lock; with `letGo`, holds it until that is set.
HANDLE OtherHolds(LockHolder& holder) {
    holder.taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, HoldLock, &holder, 0, nullptr);
    WaitForSingleObject(holder.taken, 5000);
    return thread;
}

// Another thread tries to take the lock and ends at once, holding it if it got it: 0
// when it did.
DWORD OtherTakesAndEnds() {
    LockHolder holder = {nullptr, nullptr};
    HANDLE thread = OtherHolds(holder);
    DWORD exitCode = 1;
    WaitForSingleObject(thread, 5000);
    GetExitCodeThread(thread, &exitCode);
    CloseHandle(thread);
    CloseHandle(holder.taken);
    return exitCode;
}

void RunLock() {
    Check(desktop::TakeRunLock(LOCK_NAME, 0), "a free lock is taken at once");
    Check(OtherTakesAndEnds() != 0, "while it is held another thread cannot have it");
    desktop::ReleaseRunLock();

    LockHolder keeper = {nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = OtherHolds(keeper);
    double start = PreciseMs();
    bool taken = desktop::TakeRunLock(LOCK_NAME, 300);
    double took = PreciseMs() - start;
    Check(!taken && took >= 295 && took <= 450, Format("kept by another: not taken after %.0f ms (300)", took));
    SetEvent(keeper.letGo);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    start = PreciseMs();
    taken = desktop::TakeRunLock(LOCK_NAME, 300);
    Check(taken && PreciseMs() - start < 100, "released by the other: taken, asked again with the same handle");
    desktop::ReleaseRunLock();

    // A handle kept open here keeps the mutex itself alive after its owner has gone (with
    // none open, it would be a fresh mutex, never abandoned).
    HANDLE keptAlive = CreateMutexA(nullptr, FALSE, LOCK_NAME);
    OtherTakesAndEnds();
    start = PreciseMs();
    taken = desktop::TakeRunLock(LOCK_NAME, 1000);
    Check(taken && PreciseMs() - start < 100, "left by an owner that ended holding it (abandoned): taken at once");
    desktop::ReleaseRunLock();
    CloseHandle(keptAlive);
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
    unsigned before = desktop::ClipboardSequenceNumber();
    unsigned unchanged = desktop::ClipboardSequenceNumber();
    desktop::SetClipboardText(PASTE_TEXT, PASTE_TEXT_LOCALE);
    Check(before == unchanged && desktop::ClipboardSequenceNumber() != before,
          "the clipboard's sequence number moves with a change, and only then");
    // 21 tries 50 ms apart: about a second, timed inside one process.
    const BusyCase busy[] = {
        {"held 300 ms", 300, 0, 250, 450},
        {"held 3000 ms", 3000, -1, 950, 1250},
    };
    for (const BusyCase& c : busy) {
        WaitsForABusyClipboard(c);
    }
    WindowOperations();
    ModifiersHeld();
    RunLock();
    WaitsLastAsLongAsTheySay();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed || !passed ? 1 : 0;
}
