// The clipboard, replaced by one CF_TEXT text.
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

int SetClipboardText(CodePage932Text text) {
    HGLOBAL block = MakeTextBlock(text);
    if (!block) {
        return -1;
    }
    if (!OpenClipboardPatiently()) {
        ::GlobalFree(block);
        return -1;
    }
    ::EmptyClipboard();
    // Once SetClipboardData takes the block it belongs to the system.
    bool taken = ::SetClipboardData(CF_TEXT, block) != nullptr;
    ::CloseClipboard();
    if (!taken) {
        ::GlobalFree(block);
        return -1;
    }
    return 0;
}

}  // namespace desktop
