// Taps and Ctrl chords made of single key events. Free of Win32 so that the host tests
// can drive it with refused events.
#include "driver/desktop.h"

namespace desktop {

bool TapKey(VirtualKeyCode vk) {
    if (SendKeyDown(vk) == 0) {
        return false;
    }
    return SendKeyUp(vk) != 0;
}

bool TapCtrlChord(VirtualKeyCode vk) {
    if (SendKeyDown(KEY_CONTROL) == 0) {
        return false;
    }
    bool tapped = TapKey(vk);
    // A Ctrl left down would turn the user's next keys into shortcuts.
    bool released = SendKeyUp(KEY_CONTROL) != 0;
    return tapped && released;
}

}  // namespace desktop
