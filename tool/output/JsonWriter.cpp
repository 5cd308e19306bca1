#include "tool/output/JsonWriter.h"

#include <algorithm>
#include <cstring>

namespace okr {
namespace tool {

namespace {

constexpr std::size_t spillAt = 1 << 16;

} // namespace

std::size_t escapedLength(const std::string& text, std::size_t at)
{
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == '"' || c == '\\') {
        return 1;
    }
    const auto next = [&text, at](std::size_t offset) {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0u;
    };
    if (c == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
        return 2;
    }
    if (c == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
        return 3;
    }
    return 0;
}

void appendUnicodeEscape(std::string& out, const std::string& text, std::size_t at, std::size_t length)
{
    static const char hex[] = "0123456789abcdef";
    const auto byte = [&text, at](std::size_t offset) { return static_cast<unsigned char>(text[at + offset]); };
    const unsigned code = length == 2 ? (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu)
                                      : (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += hex[(code >> shift) & 0xF];
    }
}

JsonWriter::JsonWriter(std::ostream& stream) : out(stream), lineStart("\n") {}

void JsonWriter::finish()
{
    text += '\n';
    spill(true);
}

void JsonWriter::indent() { text.append(lineStart, 1, 2 * levels.size()); }

void JsonWriter::spill(bool always)
{
    if (always || text.size() >= spillAt) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    }
}

void JsonWriter::beforeValue()
{
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!levels.empty()) {
        if (levels.back().items++ > 0) {
            text += ',';
        }
        text.append(lineStart, 0, 1 + 2 * levels.size());
    }
}

void JsonWriter::open(char bracket)
{
    beforeValue();
    text += bracket;
    levels.push_back({bracket == '{', 0});
    lineStart.resize(1 + 2 * levels.size(), ' ');
}

void JsonWriter::close(char bracket)
{
    const bool empty = levels.back().items == 0;
    levels.pop_back();
    if (!empty) {
        text += '\n';
        indent();
    }
    text += bracket;
    spill(false);
}

void JsonWriter::beginArray() { open('['); }
void JsonWriter::endArray() { close(']'); }
void JsonWriter::beginObject() { open('{'); }
void JsonWriter::endObject() { close('}'); }

void JsonWriter::key(const char* name)
{
    // A comma, the line end and indentation, and the key, in one piece: an
    // object of a listing is mostly keys. The tool's own keys need no escapes.
    char piece[128];
    const std::size_t length = std::strlen(name);
    const std::size_t indented = 1 + 2 * levels.size();
    if (levels.empty() || afterKey || 1 + indented + length + 4 > sizeof piece) {
        beforeValue();
        text += '"';
        text += name;
        text += "\": ";
    } else {
        std::size_t used = 0;
        if (levels.back().items++ > 0) {
            piece[used++] = ',';
        }
        std::copy_n(lineStart.data(), indented, piece + used);
        used += indented;
        piece[used++] = '"';
        std::copy_n(name, length, piece + used);
        used += length;
        std::copy_n("\": ", 3, piece + used);
        text.append(piece, used + 3);
    }
    afterKey = true;
}

void JsonWriter::string(const std::string& value)
{
    beforeValue();
    quote(value);
}

// Besides what JSON requires, C1 controls (U+0080 to U+009F, which a
// terminal may obey) and U+2028/U+2029 (line breaks to JavaScript) are
// written as \u escapes: the value stays the same, the output stays inert.
void JsonWriter::quote(const std::string& value)
{
    static const char hex[] = "0123456789abcdef";
    text += '"';
    // Most values hold no byte that can start an escape (escapedLength's
    // first bytes): then in one piece.
    const bool plainValue = std::none_of(value.begin(), value.end(), [](char byte) {
        const auto c = static_cast<unsigned char>(byte);
        return c < 0x20 || c == '"' || c == '\\' || c == 0xC2 || c == 0xE2;
    });
    if (plainValue) {
        text += value;
        text += '"';
        return;
    }
    std::size_t plain = 0; // the start of a run that needs no escape
    for (std::size_t at = 0; at < value.size(); ++at) {
        const auto c = static_cast<unsigned char>(value[at]);
        const std::size_t escaped = escapedLength(value, at);
        if (escaped == 0) {
            continue;
        }
        text.append(value, plain, at - plain);
        plain = at + escaped;
        if (escaped > 1) {
            appendUnicodeEscape(text, value, at, escaped);
            at += escaped - 1;
            continue;
        }
        switch (c) {
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        case '\b': text += "\\b"; break;
        case '\f': text += "\\f"; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            text += "\\u00";
            text += hex[(c >> 4) & 0xF];
            text += hex[c & 0xF];
        }
    }
    text.append(value, plain, value.size() - plain);
    text += '"';
}

void JsonWriter::number(std::int64_t value)
{
    beforeValue();
    text += std::to_string(value);
}

void JsonWriter::number(std::uint64_t value)
{
    beforeValue();
    text += std::to_string(value);
}

void JsonWriter::boolean(bool value)
{
    beforeValue();
    text += value ? "true" : "false";
}

void JsonWriter::null()
{
    beforeValue();
    text += "null";
}

} // namespace tool
} // namespace okr
