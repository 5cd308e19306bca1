#include "tool/folder/NameRules.h"

#include "tool/system/WideText.h"

#include <windows.h>

namespace okr {
namespace tool {

namespace {

// CompareStringOrdinal with bIgnoreCase: the upper-casing the file system
// itself uses for names, independent of the locale.
bool sameIgnoringCase(const std::u16string& a, std::size_t aLength, const std::u16string& b, std::size_t bLength)
{
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(aLength),
                                reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(bLength),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

bool sameName(const std::string& a, const std::string& b)
{
    std::u16string wideA;
    std::u16string wideB;
    if (!utf16FromWtf8(a, wideA) || !utf16FromWtf8(b, wideB)) {
        return a == b;
    }
    return sameIgnoringCase(wideA, wideA.size(), wideB, wideB.size());
}

bool nameStartsWith(const std::string& name, const std::string& prefix)
{
    std::u16string wideName;
    std::u16string widePrefix;
    if (!utf16FromWtf8(name, wideName) || !utf16FromWtf8(prefix, widePrefix)) {
        return name.compare(0, prefix.size(), prefix) == 0;
    }
    return wideName.size() >= widePrefix.size() &&
           sameIgnoringCase(wideName, widePrefix.size(), widePrefix, widePrefix.size());
}

// Every entry is opened by its \\?\ path, which takes a name as it is: a
// trailing dot or space, a device name, a control character. What no path
// can name as one entry of the folder is a separator or ":" (a stream of
// another file); Wine lists Unix names holding them, and "..".
bool isOpenableName(const std::string& name)
{
    std::u16string wide;
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos && utf16FromWtf8(name, wide);
}

// Both slashes separate a path here; a name the wide calls cannot take is no
// file's.
bool isEntryName(const std::string& name)
{
    std::u16string wide;
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos && utf16FromWtf8(name, wide);
}

} // namespace tool
} // namespace okr
