#include "tool/system/WideText.h"

#include <cstdint>

namespace okr {
namespace tool {

namespace {

bool isLeadSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

bool nextWtf8Code(const std::string& text, std::size_t& at, char32_t& code)
{
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, least = 0x80, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, least = 0x800, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, least = 0x10000, code = lead & 0x07u;
    } else {
        return false;
    }
    if (text.size() - at < length) {
        return false;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return false;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF) {
        return false;
    }
    at += length;
    return true;
}

std::string wtf8FromUtf16(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (isLeadSurrogate(unit) && i + 1 < text.size() && isTrailSurrogate(text[i + 1])) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            ++i;
        }
        appendUtf8(out, unit);
    }
    return out;
}

bool utf16FromWtf8(const std::string& text, std::u16string& utf16)
{
    utf16.clear();
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        if (!nextWtf8Code(text, at, code)) {
            return false;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            utf16 += static_cast<char16_t>(0xD800 + (code >> 10));
            utf16 += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
            continue;
        }
        // A trail surrogate right after a lead one would read back as a pair:
        // wtf8FromUtf16 never writes that.
        if (isTrailSurrogate(code) && !utf16.empty() && isLeadSurrogate(utf16.back())) {
            return false;
        }
        utf16 += static_cast<char16_t>(code);
    }
    return true;
}

} // namespace tool
} // namespace okr
