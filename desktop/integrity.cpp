// The integrity level of TALMERINE's process against this program's. Windows (UIPI)
// drops input injected into a window of a higher level, TALMERINE started "as
// administrator" from a program that is not, and SendInput still returns the full count:
// neither its result nor GetLastError tells.
#include <windows.h>

#include "driver/desktop.h"

namespace {

constexpr DWORD UNREADABLE = ~0u;

// The RID of the token's mandatory label (SECURITY_MANDATORY_MEDIUM_RID and so on).
DWORD IntegrityLevelOf(HANDLE token) {
    // TOKEN_MANDATORY_LABEL and the SID it points to, in one buffer.
    alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        return UNREADABLE;
    }
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    if (!::IsValidSid(sid) || *::GetSidSubAuthorityCount(sid) == 0) {
        return UNREADABLE;
    }
    return *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
}

DWORD ProcessIntegrityLevel(HANDLE process) {
    HANDLE token;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return UNREADABLE;
    }
    DWORD level = IntegrityLevelOf(token);
    ::CloseHandle(token);
    return level;
}

}  // namespace

namespace desktop {

Integrity CompareIntegrity(WindowHandle window) {
    DWORD processId = 0;
    if (!::GetWindowThreadProcessId(static_cast<HWND>(window), &processId) || processId == 0) {
        return Integrity::Unknown;
    }
    DWORD ours = ProcessIntegrityLevel(::GetCurrentProcess());
    // PROCESS_QUERY_LIMITED_INFORMATION (Vista on) is granted on a process of a higher
    // level too; its token may still be refused, and then nothing tells.
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        return Integrity::Unknown;
    }
    DWORD theirs = ProcessIntegrityLevel(process);
    ::CloseHandle(process);
    if (ours == UNREADABLE || theirs == UNREADABLE) {
        return Integrity::Unknown;
    }
    return theirs > ours ? Integrity::Above : Integrity::NotAbove;
}

}  // namespace desktop
