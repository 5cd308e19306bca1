#ifndef OKR_TOOL_WIDETEXT_H
#define OKR_TOOL_WIDETEXT_H

#include <string>

namespace okr {
namespace tool {

// Windows names files in UTF-16 that need not be valid: an unpaired surrogate
// is a name like any other. Inside the tool such a name travels as WTF-8,
// UTF-8 that also encodes unpaired surrogates, so that every true name has
// exactly one narrow form and comes back from it unchanged. Valid UTF-16 gives
// plain UTF-8.
std::string wtf8FromUtf16(const std::u16string& text);

// The reverse; false for bytes that no UTF-16 text gives (bytes that are not
// UTF-8, overlong forms, a surrogate pair written as two surrogates).
bool utf16FromWtf8(const std::string& text, std::u16string& utf16);

// Reads the code point (or unpaired surrogate) that starts at text[at] and
// moves at past it; false, at unchanged, when no UTF-16 text gives the bytes
// there.
bool nextWtf8Code(const std::string& text, std::size_t& at, char32_t& code);

} // namespace tool
} // namespace okr

#endif
