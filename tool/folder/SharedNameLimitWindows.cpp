#include "tool/folder/SharedNameLimit.h"

#include "tool/system/WideText.h"

namespace okr {
namespace tool {

namespace {

// UTF-16 units; for bytes that are not WTF-8, one unit each.
std::size_t wideLength(const std::string& text)
{
    std::u16string wide;
    return utf16FromWtf8(text, wide) ? wide.size() : text.size();
}

} // namespace

// The tool opens every file by its \\?\ path, so a file whose full path is
// past MAX_PATH is reached too; only the name itself is limited.
bool fitsSharedFolder(const std::string&, const std::string& name)
{
    constexpr std::size_t longestComponent = 255;
    return wideLength(name) <= longestComponent;
}

} // namespace tool
} // namespace okr
