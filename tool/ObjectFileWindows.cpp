#include "ObjectFile.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace okr {
namespace tool {

namespace {

std::time_t unixTime(const FILETIME& time)
{
    // FILETIME counts 100 ns steps from 1601-01-01.
    constexpr std::uint64_t unixEpoch = 116444736000000000ULL;
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<std::time_t>((ticks - unixEpoch) / 10000000ULL);
}

std::string ownerSid(const std::string& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        return std::string();
    }
    std::string sid;
    char* text = nullptr;
    if (owner != nullptr && ConvertSidToStringSidA(owner, &text)) {
        sid = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sid;
}

} // namespace

bool inspectObjectFile(const std::string& folder, const std::string& name, ObjectFile& file)
{
    const std::string path = folder + "/" + name;
    WIN32_FILE_ATTRIBUTE_DATA facts;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts) ||
        (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    file.name = name;
    file.size = (std::uint64_t{facts.nFileSizeHigh} << 32) | facts.nFileSizeLow;
    file.ownerId = ownerSid(path);
    file.modified = unixTime(facts.ftLastWriteTime);
    return true;
}

} // namespace tool
} // namespace okr
