// Synthetic key events: one INPUT record per SendInput call.
#include <windows.h>

#include "driver/desktop.h"

static_assert(KEY_CONTROL == VK_CONTROL && KEY_DELETE == VK_DELETE && KEY_F5 == VK_F5 &&
                  KEY_OEM_2 == VK_OEM_2,
              "virtual-key codes");

namespace {

unsigned SendKeyEvent(VirtualKeyCode vk, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    // Carried beside the virtual key for programs that read the scan code; the system
    // acts on wVk since KEYEVENTF_SCANCODE is not set. No KEYEVENTF_EXTENDEDKEY, also
    // not for Delete.
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    input.ki.time = 0;
    input.ki.dwExtraInfo = 0;
    return ::SendInput(1, &input, sizeof input);
}

}  // namespace

namespace desktop {

unsigned SendKeyDown(VirtualKeyCode vk) {
    return SendKeyEvent(vk, 0);
}

unsigned SendKeyUp(VirtualKeyCode vk) {
    return SendKeyEvent(vk, KEYEVENTF_KEYUP);
}

}  // namespace desktop

namespace desktop {

bool IsModifierKeyHeld() {
    // The side-neutral codes cover both Shift, Ctrl and Alt keys; the Windows keys have
    // no neutral code. The high bit is the key's state now, physical and injected alike.
    const int modifiers[] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN};
    for (int vk : modifiers) {
        if (::GetAsyncKeyState(vk) & 0x8000) {
            return true;
        }
    }
    return false;
}

}  // namespace desktop
