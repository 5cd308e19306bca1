#include "tool/output/TerminalText.h"

#include "tool/system/WideText.h"

#include <algorithm>
#include <iterator>

namespace okr {
namespace tool {

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

#include "tool/output/UnicodeRanges.inc"

template <std::size_t count>
bool isIn(const CodeRange (&ranges)[count], char32_t code)
{
    const CodeRange* after =
        std::upper_bound(std::begin(ranges), std::end(ranges), code,
                         [](char32_t value, const CodeRange& range) { return value < range.first; });
    return after != std::begin(ranges) && code <= std::prev(after)->last;
}

} // namespace

bool isShownEscaped(char32_t code) { return isIn(shownEscaped, code); }

std::size_t displayWidth(const std::string& text)
{
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        char32_t code = 0;
        if (byte < 0x80 || !nextWtf8Code(text, at, code)) {
            ++width; // ASCII, or a stray byte
            ++at;
        } else if (isIn(twoColumns, code)) {
            width += 2;
        } else if (!isIn(zeroColumns, code)) {
            ++width;
        }
    }
    return width;
}

} // namespace tool
} // namespace okr
