#ifndef OKR_HOST_PLATFORMTEXT_H
#define OKR_HOST_PLATFORMTEXT_H

#include <cstddef>
#include <string>

namespace okr {
namespace host {

// Re-encodes narrow text as the platform's narrow calls give it (file and
// account names: the ANSI code page on Windows, bytes taken as UTF-8
// elsewhere) into UTF-8.
std::string platformTextToUtf8(const std::string& text);

// UTF-8 text as the platform's narrow calls would give it, again as UTF-8:
// on Windows through the ANSI code page, best-fit ("Ωmega" comes back as
// "Omega" under code page 1252), as GetUserNameA gives a login name to the
// process that hashes it; elsewhere unchanged.
std::string utf8AsNarrowCallsGiveIt(const std::string& utf8);

// The size of the character that starts at text[at] in the platform's narrow
// encoding, and in control whether a listing must escape it: a control
// character, or one that shows as nothing or reorders the line. On Windows
// one byte of the ANSI code page, where only C0 and DEL are (bytes 0x80 to
// 0x9F are letters there, or lead bytes); elsewhere one UTF-8 character or
// one stray byte: C1 (U+0080 to U+009F, and a stray byte 0x80 to 0x9F, which
// a terminal that takes 8-bit controls obeys), and the invisible characters
// (Unicode's Default_Ignorable_Code_Point, the bidirectional controls among
// them).
std::size_t narrowCharacterAt(const std::string& text, std::size_t at, bool& control);

} // namespace host
} // namespace okr

#endif
