#ifndef OKR_TOOL_TERMINALTEXT_H
#define OKR_TOOL_TERMINALTEXT_H

#include <cstddef>
#include <string>

namespace okr {
namespace tool {

// True for a character that a terminal shows as nothing, as a line break or
// as a space other than the space: controls, format characters, separators,
// unassigned code points, surrogates, fillers and variation selectors (see
// make_unicode_ranges.py). Text that holds one could pass for other text.
bool isShownEscaped(char32_t code);

// The columns that text takes on a terminal: UTF-8 decoded, combining marks
// none, East Asian wide and fullwidth characters two, every other character
// one. A byte that starts no character counts one.
std::size_t displayWidth(const std::string& text);

} // namespace tool
} // namespace okr

#endif
