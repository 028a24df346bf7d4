// Desktop helper for the end-to-end tests.
//   desktool put-old       places other clipboard content: CF_UNICODETEXT "old" and a
//                          private format
//   desktool dump          prints "formats=<ids> text=<hex of CF_TEXT or none>"
//   desktool dismiss HEX   presses OK in every top-level window titled HEX (code page
//                          932 bytes in hex); prints how many. Key events sent from X
//                          reach such a dialog unreliably under Wine; a message does.
//   desktool poke          posts WM_APP to every stand-in TALMERINE window; prints how
//                          many. Each then logs "idle" once it has handled everything
//                          queued before it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HGLOBAL Block(const void* bytes, SIZE_T size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block) {
        std::memcpy(GlobalLock(block), bytes, size);
        GlobalUnlock(block);
    }
    return block;
}

int PutOld() {
    if (!OpenClipboard(nullptr)) {
        std::puts("clipboard busy");
        return 1;
    }
    EmptyClipboard();
    const wchar_t old[] = L"old";
    const char marker[] = "private";
    bool ok = SetClipboardData(CF_UNICODETEXT, Block(old, sizeof old)) &&
              SetClipboardData(RegisterClipboardFormatA("MiyoTestPrivate"), Block(marker, sizeof marker));
    CloseClipboard();
    std::puts(ok ? "placed" : "not placed");
    return ok ? 0 : 1;
}

int Dump() {
    if (!OpenClipboard(nullptr)) {
        std::puts("clipboard busy");
        return 1;
    }
    std::printf("formats=");
    for (UINT format = EnumClipboardFormats(0), n = 0; format; format = EnumClipboardFormats(format), n++) {
        char name[128] = "";
        if (!GetClipboardFormatNameA(format, name, sizeof name)) {
            std::snprintf(name, sizeof name, "%u", format);
        }
        std::printf("%s%s", n ? "," : "", name);
    }
    std::printf(" text=");
    HANDLE data = GetClipboardData(CF_TEXT);
    const unsigned char* text = data ? static_cast<const unsigned char*>(GlobalLock(data)) : nullptr;
    if (text) {
        for (; *text; text++) {
            std::printf("%02X", *text);
        }
        GlobalUnlock(data);
    } else {
        std::printf("none");
    }
    std::printf("\n");
    CloseClipboard();
    return 0;
}

struct Dismissal {
    char title[256];
    int count;
};

BOOL CALLBACK DismissIfTitled(HWND window, LPARAM param) {
    Dismissal* dismissal = reinterpret_cast<Dismissal*>(param);
    char title[256];
    if (GetWindowTextA(window, title, sizeof title) && std::strcmp(title, dismissal->title) == 0) {
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        dismissal->count++;
    }
    return TRUE;
}

int Dismiss(const char* hex) {
    Dismissal dismissal = {};
    size_t n = 0;
    for (; hex[0] && hex[1] && n + 1 < sizeof dismissal.title; hex += 2) {
        char pair[3] = {hex[0], hex[1], 0};
        dismissal.title[n++] = static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    EnumWindows(DismissIfTitled, reinterpret_cast<LPARAM>(&dismissal));
    std::printf("%d\n", dismissal.count);
    return 0;
}

BOOL CALLBACK PokeIfStandIn(HWND window, LPARAM param) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, "TalmerineStandIn") == 0) {
        PostMessageA(window, WM_APP, 0, 0);
        ++*reinterpret_cast<int*>(param);
    }
    return TRUE;
}

int Poke() {
    int count = 0;
    EnumWindows(PokeIfStandIn, reinterpret_cast<LPARAM>(&count));
    std::printf("%d\n", count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "put-old") == 0) {
        return PutOld();
    }
    if (argc == 2 && std::strcmp(argv[1], "dump") == 0) {
        return Dump();
    }
    if (argc == 2 && std::strcmp(argv[1], "poke") == 0) {
        return Poke();
    }
    if (argc == 3 && std::strcmp(argv[1], "dismiss") == 0) {
        return Dismiss(argv[2]);
    }
    std::puts("usage: desktool put-old | desktool dump | desktool dismiss TITLE_HEX | desktool poke");
    return 2;
}
