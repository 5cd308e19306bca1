#include "PlatformText.h"

namespace okr {
namespace host {

// File and user names here are bytes that the system already treats as UTF-8.
std::string platformTextToUtf8(const std::string& text) { return text; }

std::string utf8AsNarrowCallsGiveIt(const std::string& utf8) { return utf8; }

namespace {

// Unicode's Default_Ignorable_Code_Point: characters that show as nothing,
// among them every bidirectional control (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069), which reorders what follows on the line.
bool isInvisible(char32_t code)
{
    static const char32_t ranges[][2] = {
        {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},  {0x180B, 0x180F},
        {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x206F},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},  {0xFEFF, 0xFEFF},
        {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};
    for (const auto& range : ranges) {
        if (code >= range[0] && code <= range[1]) {
            return true;
        }
    }
    return false;
}

} // namespace

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
        char32_t code = byte & (0x7Fu >> size);
        for (std::size_t next = 1; next < size; ++next) {
            code = code << 6 | (static_cast<unsigned char>(text[at + next]) & 0x3Fu);
        }
        control = (code >= 0x80 && code <= 0x9F) || isInvisible(code);
    }
    return size;
}

} // namespace host
} // namespace okr
