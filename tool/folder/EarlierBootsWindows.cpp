#include "tool/folder/EarlierBoots.h"

#include <utility>

namespace okr {
namespace tool {

namespace {

// ASCII digits only: a folder named in fullwidth digits is no stamp.
bool isStamp(const std::string& name)
{
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

void readFiles(EarlierBoot& boot)
{
    std::vector<FolderEntry> entries;
    std::string reason;
    if (!boot.folder.list(entries, reason)) {
        return;
    }
    for (const FolderEntry& entry : entries) {
        ObjectFile file;
        EntryType type = EntryType::other;
        const ObjectFolder::Look look = boot.folder.inspect(entry.name, file, type, reason);
        if (look == ObjectFolder::Look::failed) {
            file.name = entry.name;
            boot.files.push_back({file, Hold::unknown, reason});
        } else if (look == ObjectFolder::Look::found && type == EntryType::file) {
            boot.files.push_back({file, boot.folder.hold(entry.name), std::string()});
        } else if (look == ObjectFolder::Look::found) {
            ++boot.others;
        }
    }
}

} // namespace

// The shared folder is <root>/boost_interprocess/<stamp>, the stamp a decimal
// time (empty when no boot record can be read); every other decimal folder
// beside it is one an earlier boot left.
EarlierBoots earlierBoots(const std::string& sharedFolder)
{
    EarlierBoots found;
    const std::size_t slash = sharedFolder.rfind('/');
    std::string reason;
    std::vector<FolderEntry> entries;
    if (slash == std::string::npos || !found.parent.open(sharedFolder.substr(0, slash), reason) ||
        !found.parent.list(entries, reason)) {
        return found;
    }
    const std::string currentStamp = sharedFolder.substr(slash + 1);
    for (const FolderEntry& entry : entries) {
        if (entry.type == EntryType::file || !isStamp(entry.name) || entry.name == currentStamp) {
            continue;
        }
        EarlierBoot boot;
        boot.stamp = entry.name;
        boot.path = found.parent.path() + "/" + entry.name;
        ObjectFile facts;
        EntryType type = entry.type;
        if (type != EntryType::link &&
            found.parent.inspect(entry.name, facts, type, reason) != ObjectFolder::Look::found) {
            continue;
        }
        if (type == EntryType::link) {
            boot.link = true;
        } else if (type != EntryType::folder || !boot.folder.open(boot.path, reason)) {
            continue; // no folder, or no longer the one inspected
        } else {
            readFiles(boot);
        }
        found.boots.push_back(std::move(boot));
    }
    return found;
}

} // namespace tool
} // namespace okr
