#include "LoginName.h"

#include "host/PlatformText.h"

#include <windows.h>

namespace okr {
namespace driver {

namespace {

constexpr DWORD room = 256; // characters, terminator included

// The name as the ANSI calls give it: a character outside the code page
// comes back best-fit ("Omega" for "Ωmega") or as "?", and that is the name
// every peer hashes. The wide calls would keep the character.
std::string ansiLoginName()
{
    char name[room];
    DWORD size = room;
    if (GetUserNameA(name, &size)) {
        return std::string(name);
    }
    // A value that does not fit is reported by its needed size, not given.
    const DWORD length = GetEnvironmentVariableA("username", name, room);
    return length > 0 && length < room ? std::string(name, length) : std::string();
}

} // namespace

std::string loginNameUtf8() { return host::platformTextToUtf8(ansiLoginName()); }

} // namespace driver
} // namespace okr
