// One run at a time on this desktop session: a named mutex in the session's namespace.
#include <windows.h>

#include "driver/desktop.h"

namespace {

HANDLE runLock;

}  // namespace

namespace desktop {

bool TakeRunLock(CodePage932Text name, unsigned waitMs) {
    // Opened once and kept while it is asked for again.
    if (!runLock) {
        runLock = ::CreateMutexA(nullptr, FALSE, name);
        if (!runLock) {
            // ERROR_ACCESS_DENIED: a copy run as administrator made the mutex, and its
            // default security lets this level open it only for SYNCHRONIZE (OpenMutexA
            // would be the way in). Not had, like a lock still held: the caller asks again
            // each second, and a copy that ends releases the name.
            return false;
        }
    }
    // WAIT_ABANDONED: the owner ended without releasing it; the mutex is ours now, and
    // whatever that run left half-done is only keys, which this run types afresh.
    DWORD waited = ::WaitForSingleObject(runLock, waitMs);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void ReleaseRunLock() {
    if (runLock) {
        ::ReleaseMutex(runLock);
        ::CloseHandle(runLock);
        runLock = nullptr;
    }
}

}  // namespace desktop
