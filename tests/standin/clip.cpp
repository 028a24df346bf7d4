// Clipboard helper for the end-to-end tests.
//   clip put-old   places other content: CF_UNICODETEXT "old" and a private format
//   clip dump      prints "formats=<ids> text=<hex of CF_TEXT or none>"
#include <windows.h>

#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "put-old") == 0) {
        return PutOld();
    }
    if (argc == 2 && std::strcmp(argv[1], "dump") == 0) {
        return Dump();
    }
    std::puts("usage: clip put-old | clip dump");
    return 2;
}
