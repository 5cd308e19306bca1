#include "PlatformText.h"

#include <windows.h>

#include <vector>

namespace okr {
namespace host {

// Through UTF-16, as the "A" calls' own conversion does, so a name read with
// an "A" call comes out as the UTF-8 of what that call returned.
std::string platformTextToUtf8(const std::string& text)
{
    if (text.empty()) {
        return text;
    }
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (wideLength <= 0) {
        return std::string();
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), wideLength);
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) {
        return std::string();
    }
    std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], utf8Length, nullptr, nullptr);
    return utf8;
}

} // namespace host
} // namespace okr
