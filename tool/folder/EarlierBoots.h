#ifndef OKR_TOOL_EARLIERBOOTS_H
#define OKR_TOOL_EARLIERBOOTS_H

#include "tool/folder/ObjectFolder.h"

#include <cstddef>
#include <string>
#include <vector>

namespace okr {
namespace tool {

struct BootFolderFile {
    ObjectFile file; // only its name when it could not be opened
    Hold hold;
    std::string openFailure; // why it could not be opened, in the system's words; empty when it was
};

struct EarlierBoot {
    std::string stamp;
    std::string path;
    bool link = false;                 // a link (junction, symbolic link): never entered
    std::vector<BootFolderFile> files; // its regular files, and the entries it cannot open
    std::size_t others = 0;            // entries that are none: links, folders
    ObjectFolder folder;
};

struct EarlierBoots {
    ObjectFolder parent; // the folder that holds them
    std::vector<EarlierBoot> boots;
};

// The folders that Boost.Interprocess made for earlier boots beside the
// current shared folder, with their files. Only Windows keeps such folders;
// elsewhere there are none.
EarlierBoots earlierBoots(const std::string& sharedFolder);

} // namespace tool
} // namespace okr

#endif
