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

HGLOBAL MakeTextBlock(CodePage932Text text) {
    SIZE_T length = static_cast<SIZE_T>(::lstrlenA(text));
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length + CLIPBOARD_SLACK_BYTES);
    if (!block) {
        return nullptr;
    }
    char* bytes = static_cast<char*>(::GlobalLock(block));
    if (!bytes) {
        ::GlobalFree(block);
        return nullptr;
    }
    ::lstrcpyA(bytes, text);
    ::GlobalUnlock(block);
    return block;
}

HGLOBAL MakeLocaleBlock(unsigned locale) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(LCID));
    if (!block) {
        return nullptr;
    }
    LCID* id = static_cast<LCID*>(::GlobalLock(block));
    if (!id) {
        ::GlobalFree(block);
        return nullptr;
    }
    *id = static_cast<LCID>(locale);
    ::GlobalUnlock(block);
    return block;
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

}  // namespace desktop
