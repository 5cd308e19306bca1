#include "ShellQuoting.h"

#include "PlatformText.h"

#include <cstring>

namespace okr {
namespace host {

namespace {

// Whatever the locale says.
bool isAsciiAlphanumeric(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

void appendEscape(std::string& out, unsigned char byte)
{
    static const char named[] = "abtnvfr"; // 7 to 13
    if (byte >= 7 && byte <= 13) {
        out += '\\';
        out += named[byte - 7];
        return;
    }
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

// Only the platform's control characters are escaped; other characters
// outside ASCII stand as they are.
QuotedPiece listedPiece(const std::string& name, std::size_t at)
{
    bool control = false;
    const std::size_t size = narrowCharacterAt(name, at, control);
    if (control) {
        return {size, QuotedPiece::escaped, false};
    }
    return static_cast<unsigned char>(name[at]) < 0x80 ? asciiPiece(name, at)
                                                       : QuotedPiece{size, QuotedPiece::bare, true};
}

} // namespace

QuotedPiece asciiPiece(const std::string& text, std::size_t at)
{
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7F) {
        return {1, QuotedPiece::escaped, false};
    }
    if (isAsciiAlphanumeric(c) || isOneOf(static_cast<char>(c), "%+,-./:@]_")) {
        return {1, QuotedPiece::bare, true};
    }
    const bool first = at == 0;
    const bool alone = text.size() == 1;
    switch (c) {
    case '#':
    case '~': return {1, first ? QuotedPiece::quoted : QuotedPiece::bare, first};
    case '{':
    case '}': return {1, alone ? QuotedPiece::quoted : QuotedPiece::bare, alone};
    case ' ':
    case '\'': return {1, QuotedPiece::quoted, true};
    default: return {1, QuotedPiece::quoted, false};
    }
}

std::string shellEscaped(const std::string& text, PieceReader pieceAt)
{
    bool plain = !text.empty();
    bool singleQuote = false;
    bool doubleQuotesFit = true;
    for (std::size_t at = 0; at < text.size();) {
        const QuotedPiece piece = pieceAt(text, at);
        plain = plain && piece.kind == QuotedPiece::bare;
        singleQuote = singleQuote || text[at] == '\'';
        doubleQuotesFit = doubleQuotesFit && piece.fitsDoubleQuotes;
        at += piece.size;
    }
    if (plain) {
        return text;
    }
    if (singleQuote && doubleQuotesFit) {
        return '"' + text + '"';
    }
    std::string out = "'";
    bool inEscapes = false;
    for (std::size_t at = 0; at < text.size();) {
        const QuotedPiece piece = pieceAt(text, at);
        if (piece.kind == QuotedPiece::escaped) {
            out += inEscapes ? "" : "'$'";
            inEscapes = true;
            for (std::size_t i = 0; i < piece.size; ++i) {
                appendEscape(out, static_cast<unsigned char>(text[at + i]));
            }
        } else if (text[at] == '\'') {
            out += "'\\''"; // ends either quote, and goes on in plain ones
            inEscapes = false;
        } else {
            out += inEscapes ? "''" : "";
            inEscapes = false;
            out.append(text, at, piece.size);
        }
        at += piece.size;
    }
    return out + "'";
}

std::string listedName(const std::string& name)
{
    for (std::size_t at = 0; at < name.size();) {
        const QuotedPiece piece = listedPiece(name, at);
        if (piece.kind == QuotedPiece::escaped) {
            return shellEscaped(name, listedPiece);
        }
        at += piece.size;
    }
    return name;
}

} // namespace host
} // namespace okr
