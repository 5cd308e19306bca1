#include "tool/output/PrintedName.h"

#include "host/ShellQuoting.h"
#include "tool/output/TerminalText.h"
#include "tool/system/WideText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace okr {
namespace tool {

namespace {

bool isSurrogate(char32_t code) { return code >= 0xD800 && code <= 0xDFFF; }

bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

using host::QuotedPiece;

// Beyond ASCII: a character that shows as nothing or as a blank, and a byte
// that starts no character, are escaped.
QuotedPiece pieceAt(const std::string& name, std::size_t at)
{
    if (static_cast<unsigned char>(name[at]) < 0x80) {
        return host::asciiPiece(name, at);
    }
    std::size_t end = at;
    char32_t code = 0;
    if (!nextWtf8Code(name, end, code)) {
        return {1, QuotedPiece::escaped, false};
    }
    const bool shown = !isShownEscaped(code);
    return {end - at, shown ? QuotedPiece::bare : QuotedPiece::escaped, shown};
}

// What \c stands for in $'...', or 0 when c names no character.
char namedEscape(char c)
{
    switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'e':
    case 'E': return '\x1b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case '\\':
    case '\'':
    case '"':
    case '?': return c;
    default: return '\0';
    }
}

bool isOctal(char c) { return c >= '0' && c <= '7'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The inside of $'...' from text[at] up to its closing quote; at ends past it.
bool readDollarQuoted(const std::string& text, std::size_t& at, std::string& name)
{
    while (at < text.size() && text[at] != '\'') {
        if (text[at] != '\\') {
            name += text[at++];
            continue;
        }
        if (++at == text.size()) {
            return false;
        }
        const char c = text[at++];
        if (const char named = namedEscape(c)) {
            name += named;
        } else if (isOctal(c)) {
            int value = c - '0';
            for (int digits = 1; digits < 3 && at < text.size() && isOctal(text[at]); ++digits) {
                value = value * 8 + (text[at++] - '0');
            }
            name += static_cast<char>(value & 0xFF);
        } else if (c == 'x' && at < text.size() && hexValue(text[at]) >= 0) {
            int value = hexValue(text[at++]);
            if (at < text.size() && hexValue(text[at]) >= 0) {
                value = value * 16 + hexValue(text[at++]);
            }
            name += static_cast<char>(value);
        } else {
            return false; // an escape the tool does not read as the shell would
        }
    }
    return at++ < text.size();
}

// The inside of "..." up to its closing quote, which must expand nothing.
bool readDoubleQuoted(const std::string& text, std::size_t& at, std::string& name)
{
    while (at < text.size() && text[at] != '"') {
        const char c = text[at++];
        if (c == '$' || c == '`') {
            return false;
        }
        if (c == '\\' && at < text.size() && isOneOf(text[at], "$`\"\\\n")) {
            if (text[at] != '\n') {
                name += text[at];
            }
            ++at;
            continue;
        }
        name += c;
    }
    return at++ < text.size();
}

// Most names are letters, digits and "-": they print as they are, which
// is found in one look at each byte.
bool isPlain(std::string_view name)
{
    static const auto plain = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 256; ++c) {
            table[static_cast<std::size_t>(c)] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                                                 (c >= 'A' && c <= 'Z') || std::strchr("%+,-./:@]_", c) != nullptr;
        }
        table[0] = false;
        return table;
    }();
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return plain[static_cast<unsigned char>(c)]; });
}

} // namespace

bool printsAsItIs(std::string_view name) { return isPlain(name); }

std::string printedName(const std::string& name) { return isPlain(name) ? name : host::shellEscaped(name, pieceAt); }

bool nameFromPrinted(const std::string& text, std::string& name)
{
    name.clear();
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at++];
        if (c == '\'') {
            const std::size_t end = text.find('\'', at);
            if (end == std::string::npos) {
                return false;
            }
            name.append(text, at, end - at);
            at = end + 1;
        } else if (c == '$' && at < text.size() && text[at] == '\'') {
            ++at;
            if (!readDollarQuoted(text, at, name)) {
                return false;
            }
        } else if (c == '"') {
            if (!readDoubleQuoted(text, at, name)) {
                return false;
            }
        } else if (c == '\\') {
            // Printed names escape only the single quote out of quotes; any
            // other backslash is more likely a Windows path than quoting.
            if (at == text.size() || text[at] != '\'') {
                return false;
            }
            name += text[at++];
        } else if (isOneOf(c, " \t\n|&;<>()$`*?[") || (at == 1 && (c == '#' || c == '~'))) {
            return false; // syntax, or an expansion the tool does not make
        } else {
            name += c;
        }
    }
    return true;
}

bool isExactUtf8(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        if (!nextWtf8Code(text, at, code) || isSurrogate(code)) {
            return false;
        }
    }
    return true;
}

} // namespace tool
} // namespace okr
