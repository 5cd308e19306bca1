#include "PlatformText.h"

#include <windows.h>

#include <vector>

namespace okr {
namespace host {

namespace {

// Through UTF-16, as the "A" calls' own conversion does: into a code page
// with best-fit characters, as they give names back.
std::string recode(const std::string& text, UINT from, UINT to)
{
    if (text.empty()) {
        return text;
    }
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0);
    if (wideLength <= 0) {
        return std::string();
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    MultiByteToWideChar(from, 0, text.data(), length, wide.data(), wideLength);
    const int narrowLength = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (narrowLength <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(narrowLength), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &narrow[0], narrowLength, nullptr, nullptr);
    return narrow;
}

} // namespace

// A name read with an "A" call comes out as the UTF-8 of what that call
// returned.
std::string platformTextToUtf8(const std::string& text) { return recode(text, CP_ACP, CP_UTF8); }

std::string utf8AsNarrowCallsGiveIt(const std::string& utf8)
{
    return platformTextToUtf8(recode(utf8, CP_UTF8, CP_ACP));
}

// A control byte is never the second byte of a double-byte character.
std::size_t narrowCharacterAt(const std::string& text, std::size_t at, bool& control)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    control = byte < 0x20 || byte == 0x7F;
    return 1;
}

} // namespace host
} // namespace okr
