#ifndef OKR_TOOL_EARLIERBOOTS_H
#define OKR_TOOL_EARLIERBOOTS_H

#include "FileRemoval.h"

#include <cstdint>
#include <string>
#include <vector>

namespace okr {
namespace tool {

struct BootFolderFile {
    std::string name;
    std::uint64_t size;
    Hold hold;
};

struct EarlierBoot {
    std::string stamp;
    std::string path;
    std::vector<BootFolderFile> files;
};

// The folders that Boost.Interprocess made for earlier boots beside the
// current shared folder, with their files. Only Windows keeps such folders;
// elsewhere there are none.
std::vector<EarlierBoot> earlierBoots(const std::string& sharedFolder);

} // namespace tool
} // namespace okr

#endif
