#include "UserIdentity.h"

#include <windows.h>

#include <sddl.h>

#include <cstdlib>
#include <cstring>

namespace okr {
namespace common {

namespace {

// Replaces a lookup buffer with one of the size the platform asked for.
bool grow(void*& buffer, DWORD& size, DWORD needed)
{
    if (needed <= size) {
        return true;
    }
    void* larger = std::malloc(needed);
    if (larger == nullptr) {
        return false;
    }
    std::free(buffer);
    buffer = larger;
    size = needed;
    return true;
}

} // namespace

std::string currentUserSid()
{
    char logonName[1024];
    DWORD logonSize = sizeof logonName;
    if (!GetUserNameA(logonName, &logonSize)) {
        return std::string();
    }

    DWORD sidSize = 512;
    DWORD domainSize = 512;
    void* sid = std::malloc(sidSize);
    void* domain = std::malloc(domainSize);
    std::string result;
    for (;;) {
        if (sid == nullptr || domain == nullptr) {
            break;
        }
        std::memset(sid, 0, 4);
        std::memset(domain, 0, 4);
        DWORD sidRoom = sidSize;
        DWORD domainRoom = domainSize;
        SID_NAME_USE use;
        if (LookupAccountNameA(nullptr, logonName, sid, &sidRoom, static_cast<char*>(domain), &domainRoom, &use)) {
            char* text = nullptr;
            if (ConvertSidToStringSidA(sid, &text)) {
                result = text;
                LocalFree(text);
            }
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        // Only the buffer that proved too small is replaced.
        const bool sidTooSmall = sidRoom > sidSize;
        const bool domainTooSmall = domainRoom > domainSize;
        if ((!sidTooSmall && !domainTooSmall) || !grow(sid, sidSize, sidRoom) ||
            !grow(domain, domainSize, domainRoom)) {
            break;
        }
    }
    std::free(sid);
    std::free(domain);
    return result;
}

} // namespace common
} // namespace okr
