// The clipboard, replaced by one CF_TEXT text and the locale it is written in.
#include <windows.h>

#include "driver/desktop.h"

namespace {

// Room after the text, left zero.
constexpr SIZE_T CLIPBOARD_SLACK_BYTES = 256;
// Another program (a clipboard manager, a remote desktop client) may hold the
// clipboard open for a moment: keep trying for about a second before giving up.
constexpr int OPEN_CLIPBOARD_TRIES = 21;
constexpr DWORD OPEN_CLIPBOARD_RETRY_MS = 50;

// A block for the clipboard: `size` bytes copied from `bytes`, then `slack` zero bytes.
HGLOBAL MakeBlock(const void* bytes, SIZE_T size, SIZE_T slack) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + slack);
    if (!block) {
        return nullptr;
    }
    void* data = ::GlobalLock(block);
    if (!data) {
        ::GlobalFree(block);
        return nullptr;
    }
    ::CopyMemory(data, bytes, size);
    ::GlobalUnlock(block);
    return block;
}

HGLOBAL MakeTextBlock(CodePage932Text text) {
    // The text and its NUL, then zeros: the text's length plus 256 bytes in all.
    SIZE_T length = static_cast<SIZE_T>(::lstrlenA(text));
    return MakeBlock(text, length + 1, CLIPBOARD_SLACK_BYTES - 1);
}

HGLOBAL MakeLocaleBlock(unsigned locale) {
    LCID id = static_cast<LCID>(locale);
    return MakeBlock(&id, sizeof id, 0);
}

bool OpenClipboardPatiently() {
    for (int attempt = 1;; attempt++) {
        if (::OpenClipboard(nullptr)) {
            return true;
        }
        if (attempt == OPEN_CLIPBOARD_TRIES) {
            return false;
        }
        ::Sleep(OPEN_CLIPBOARD_RETRY_MS);
    }
}

}  // namespace

namespace desktop {

int SetClipboardText(CodePage932Text text, unsigned locale) {
    HGLOBAL textBlock = MakeTextBlock(text);
    HGLOBAL localeBlock = textBlock ? MakeLocaleBlock(locale) : nullptr;
    if (!localeBlock) {
        if (textBlock) {
            ::GlobalFree(textBlock);
        }
        return -1;
    }
    if (!OpenClipboardPatiently()) {
        ::GlobalFree(textBlock);
        ::GlobalFree(localeBlock);
        return -1;
    }
    ::EmptyClipboard();
    // Once SetClipboardData takes a block it belongs to the system.
    bool textTaken = ::SetClipboardData(CF_TEXT, textBlock) != nullptr;
    // Without CF_LOCALE, CloseClipboard tags the text with the input language of the
    // moment (Wine: the user's locale), and a Unicode program pastes the code page 932
    // bytes converted with, say, code page 1252. No text at all is better than that.
    bool localeTaken = textTaken && ::SetClipboardData(CF_LOCALE, localeBlock) != nullptr;
    if (textTaken && !localeTaken) {
        ::EmptyClipboard();
    }
    ::CloseClipboard();
    if (!textTaken) {
        ::GlobalFree(textBlock);
    }
    if (!localeTaken) {
        ::GlobalFree(localeBlock);
    }
    return localeTaken ? 0 : -1;
}

unsigned ClipboardSequenceNumber() {
    return ::GetClipboardSequenceNumber();
}

}  // namespace desktop
