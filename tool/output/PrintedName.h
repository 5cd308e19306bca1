#ifndef OKR_TOOL_PRINTEDNAME_H
#define OKR_TOOL_PRINTEDNAME_H

#include <string>
#include <string_view>

namespace okr {
namespace tool {

// A name as the tool prints it, in the quoting style of
// `ls --quoting-style=shell-escape`: bare when that is unambiguous, else in
// single quotes (double quotes when the name's only special character is a
// single quote), with every control character, byte that is not UTF-8 and
// invisible or blank character (isShownEscaped) written as a $'\NNN' escape.
// Two names never print alike, no printed name holds a line break, and a
// POSIX shell reads a printed name back as the name itself.
std::string printedName(const std::string& name);

// Whether printedName gives name back as it is.
bool printsAsItIs(std::string_view name);

// The reverse, for text quoted as a POSIX shell quotes one word: '...',
// $'...' with backslash escapes, "..." without expansions, \' and bare
// characters that are no shell syntax. False when text is not such a word
// (a backslash before anything but a quote, outside quotes, among them).
bool nameFromPrinted(const std::string& text, std::string& name);

// True when text is valid UTF-8 (no surrogates), so that JSON can hold it
// exactly.
bool isExactUtf8(const std::string& text);

} // namespace tool
} // namespace okr

#endif
