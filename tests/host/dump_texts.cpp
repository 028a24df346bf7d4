// Prints every text constant as NAME and its bytes in hex, for check_texts.py.
#include <cstdio>

#include "driver/automation.h"

namespace {

void Dump(const char* name, const char* text, size_t size) {
    std::printf("%s", name);
    for (size_t i = 0; i + 1 < size; i++) {
        std::printf(" %02X", static_cast<unsigned char>(text[i]));
    }
    std::printf("\n");
}

}  // namespace

#define DUMP(name) Dump(#name, name, sizeof name)

int main() {
    DUMP(TARGET_WINDOW_TITLE);
    DUMP(TARGET_EXE_PATH);
    DUMP(TARGET_WORK_DIR);
    DUMP(PASTE_TEXT);
    DUMP(MSG_LAUNCHING);
    DUMP(MSG_LAUNCH_FAILED);
    DUMP(MSG_PROGRESS_DOT);
    DUMP(MSG_LINE_END);
    DUMP(MSG_NOT_FOUND);
    DUMP(MSG_DONE);
    DUMP(MSG_NOT_FOREGROUND);
    DUMP(MSG_CLIPBOARD_FAILED);
    DUMP(MSG_KEYS_FAILED);
    DUMP(MSG_KEYS_HELD);
    DUMP(MSG_ALREADY_RUNNING);
    DUMP(MSG_WAITING_FOR_ANSWER);
    DUMP(MSG_NOT_ANSWERING);
    DUMP(MSG_WAITING_FOR_OTHER_RUN);
    DUMP(MSG_WAITING_FOR_DIALOG);
    DUMP(MSG_WAITING_FOR_FRONT);
    DUMP(MSG_DIALOG_OPEN);
    DUMP(MSG_TARGET_ELEVATED);
    DUMP(MSG_CLIPBOARD_CHANGED);
    DUMP(MSG_WRONG_CODE_PAGE_BEFORE);
    DUMP(MSG_WRONG_CODE_PAGE_AFTER);
    DUMP(RUN_LOCK_NAME);
    return 0;
}
