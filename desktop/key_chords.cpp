// Taps and Ctrl chords made of single key events. Free of Win32 so that the host tests
// can drive it with refused events.
#include "driver/automation.h"
#include "driver/waits.h"

namespace {

// A Ctrl left down would turn the user's next keys into shortcuts: a refused release is
// tried again for a short while (a refusal can pass, as when another program's input
// came in between); one that the system keeps refusing (a secure desktop in front)
// cannot be helped from here.
bool ReleaseCtrl() {
    return PollUntil(CTRL_RELEASE_RETRY_LIMIT_MS, CTRL_RELEASE_RETRY_MS,
                     [] { return desktop::SendKeyUp(KEY_CONTROL) != 0; });
}

}  // namespace

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
    // Released whatever happened to the key in between.
    bool released = ReleaseCtrl();
    return tapped && released;
}

}  // namespace desktop
