// Reads an executable's version resource the way Explorer's Properties do,
// prints it, and fails unless every KEY=VALUE given matches.
//   okr-test-version-reader EXE [KEY=VALUE]...
// KEY names a string of the resource (ProductName, FileVersion, ...), or
// FixedFileVersion / FixedProductVersion, the numeric versions "a.b.c.d".

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string dotted(DWORD high, DWORD low)
{
    return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) + "." +
           std::to_string(LOWORD(low));
}

// Empty when the resource has no such value.
std::string valueOf(std::vector<char>& resource, const std::string& key)
{
    void* found = nullptr;
    UINT length = 0;
    if (key == "FixedFileVersion" || key == "FixedProductVersion") {
        if (VerQueryValueA(resource.data(), "\\", &found, &length) == 0 || length < sizeof(VS_FIXEDFILEINFO)) {
            return {};
        }
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
        return key == "FixedFileVersion" ? dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS)
                                         : dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    }
    // Strings live in a block per language and code page; take the first
    // the resource declares.
    if (VerQueryValueA(resource.data(), "\\VarFileInfo\\Translation", &found, &length) == 0 ||
        length < 2 * sizeof(WORD)) {
        return {};
    }
    const auto* translation = static_cast<const WORD*>(found);
    char block[32];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    if (VerQueryValueA(resource.data(), (block + key).c_str(), &found, &length) == 0 || length == 0) {
        return {};
    }
    return static_cast<const char*>(found);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: okr-test-version-reader EXE [KEY=VALUE]...\n");
        return 2;
    }
    const char* exe = argv[1];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe, &ignored);
    std::vector<char> resource(size);
    if (size == 0 || GetFileVersionInfoA(exe, 0, size, resource.data()) == 0) {
        std::printf("%s: no version resource (error %lu)\n", exe, GetLastError());
        return 1;
    }

    int mismatches = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string expected = argv[i];
        const std::string::size_type equals = expected.find('=');
        const std::string key = expected.substr(0, equals);
        const std::string value = valueOf(resource, key);
        std::printf("%s: %s\n", key.c_str(), value.c_str());
        if (equals == std::string::npos || value != expected.substr(equals + 1)) {
            std::printf("  expected: %s\n", expected.c_str());
            ++mismatches;
        }
    }
    return mismatches == 0 ? 0 : 1;
}
