#include "tool/folder/SharedNameLimit.h"

#include "tool/system/WideText.h"

#include <windows.h>

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

bool fitsSharedFolder(const std::string& folder, const std::string& name)
{
    constexpr std::size_t longestComponent = 255;
    const std::size_t nameLength = wideLength(name);
    return nameLength <= longestComponent && wideLength(folder) + 1 + nameLength < MAX_PATH;
}

} // namespace tool
} // namespace okr
