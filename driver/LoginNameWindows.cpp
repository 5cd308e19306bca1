#include "LoginName.h"

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

std::string utf8FromAnsi(const std::string& ansi)
{
    if (ansi.empty()) {
        return ansi;
    }
    const int ansiLength = static_cast<int>(ansi.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, &wide[0], wideLength);
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], utf8Length, nullptr, nullptr);
    return utf8;
}

} // namespace

std::string loginNameUtf8() { return utf8FromAnsi(ansiLoginName()); }

} // namespace driver
} // namespace okr
