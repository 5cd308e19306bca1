#ifndef OKR_HOST_SHELLQUOTING_H
#define OKR_HOST_SHELLQUOTING_H

#include <cstddef>
#include <string>

namespace okr {
namespace host {

// One character of a text, or one stray byte, and how it must be printed.
struct QuotedPiece {
    std::size_t size;
    enum Kind {
        bare,    // needs no quotes
        quoted,  // printable, but the shell would read it as syntax
        escaped, // only a $'...' escape shows it
    } kind;
    bool fitsDoubleQuotes; // can stand in "..." beside a single quote, as ls decides
};

using PieceReader = QuotedPiece (*)(const std::string& text, std::size_t at);

// The ASCII character text[at] as the shell sees it: controls (C0 and DEL)
// escaped, shell syntax quoted, the rest bare.
QuotedPiece asciiPiece(const std::string& text, std::size_t at);

// text in the quoting style of `ls --quoting-style=shell-escape`, with each
// piece printed as pieceAt says: bare when every piece is, else in single
// quotes (double quotes when the only special character is a single quote),
// escaped pieces as $'\NNN' escapes. No line break or escape sequence ever
// reaches the output, and a POSIX shell reads it back as text itself.
std::string shellEscaped(const std::string& text, PieceReader pieceAt);

// A file name as the check's listing prints it: the name itself, byte for
// byte, unless it holds a control character (C0, DEL, C1 as the platform's
// narrow text encodes them) or an invisible or bidirectional-control one
// (see PlatformText.h); then shellEscaped with only those escaped, so that
// no name can forge a line, pass for another or reach the terminal as an
// escape sequence.
std::string listedName(const std::string& name);

} // namespace host
} // namespace okr

#endif
