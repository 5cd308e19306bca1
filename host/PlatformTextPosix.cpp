#include "PlatformText.h"

namespace okr {
namespace host {

// File and user names here are bytes that the system already treats as UTF-8.
std::string platformTextToUtf8(const std::string& text) { return text; }

std::string utf8AsNarrowCallsGiveIt(const std::string& utf8) { return utf8; }

std::size_t narrowCharacterAt(const std::string& text, std::size_t at, bool& control)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t size = 1;
    if (byte >= 0xC2 && byte <= 0xF4) {
        size = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    }
    for (std::size_t next = 1; next < size; ++next) {
        if (at + next >= text.size() || (static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80) {
            size = 1; // a stray byte: what follows is no part of it
        }
    }
    if (size == 1) {
        control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
    } else {
        control = byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    }
    return size;
}

} // namespace host
} // namespace okr
