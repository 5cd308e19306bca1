#include "EarlierBoots.h"

#include <windows.h>

#include <functional>

namespace okr {
namespace tool {

namespace {

// FindFirstFileA/FindNextFileA over a folder's entries but "." and "..".
void forEachEntry(const std::string& folder, const std::function<void(const WIN32_FIND_DATAA&)>& visit)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "/*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") {
            visit(found);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool isStamp(const std::string& name)
{
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

bool isFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

} // namespace

// The shared folder is <root>/boost_interprocess/<stamp>, the stamp a decimal
// time (empty when no boot record can be read); every other decimal folder
// beside it is one an earlier boot left.
std::vector<EarlierBoot> earlierBoots(const std::string& sharedFolder)
{
    std::vector<EarlierBoot> boots;
    const std::size_t slash = sharedFolder.rfind('/');
    if (slash == std::string::npos) {
        return boots;
    }
    const std::string parent = sharedFolder.substr(0, slash);
    const std::string currentStamp = sharedFolder.substr(slash + 1);
    forEachEntry(parent, [&](const WIN32_FIND_DATAA& entry) {
        if (isFolder(entry) && isStamp(entry.cFileName) && entry.cFileName != currentStamp) {
            boots.push_back({entry.cFileName, parent + "/" + entry.cFileName, {}});
        }
    });
    for (EarlierBoot& boot : boots) {
        forEachEntry(boot.path, [&boot](const WIN32_FIND_DATAA& entry) {
            if (!isFolder(entry)) {
                const std::uint64_t size = (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
                boot.files.push_back({entry.cFileName, size, holdOf(boot.path + "/" + entry.cFileName)});
            }
        });
    }
    return boots;
}

} // namespace tool
} // namespace okr
