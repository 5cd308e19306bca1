#include "tool/inventory/Inventory.h"

#include "host/PlatformText.h"
#include "tool/folder/NameRules.h"
#include "tool/folder/SetAsideName.h"
#include "tool/folder/UnpublishedName.h"
#include "tool/inventory/AccountNames.h"
#include "tool/output/PrintedName.h"

#include "common/RecordName"

#include <algorithm>
#include <cstdint>
#include <iostream>

namespace okr {
namespace tool {

const char* stateName(State state)
{
    switch (state) {
    case State::inUse: return "in use";
    case State::orphaned: return "orphaned";
    case State::unopened: return "cannot be opened";
    case State::unknown: break;
    }
    return "unknown";
}

std::string pidList(const std::vector<ProcessId>& pids)
{
    std::string text;
    for (ProcessId pid : pids) {
        text += (text.empty() ? "" : ",") + std::to_string(pid);
    }
    return text;
}

const char* layoutText(const ObjectRow& row)
{
    const RecordLayout* layout = recordLayout(row.kind);
    return layout == nullptr ? "-" : fitText(*layout, row.file.size);
}

// A process names its record with its id in its own pid namespace.
RecordOwners::RecordOwners(const ProcessList& live) : everyProcess(live.complete)
{
    for (const LiveProcess& process : live.processes) {
        // Hashed as the process itself read its login name: with GetUserNameA
        // on Windows, best-fit into the ANSI code page.
        const std::string user = host::utf8AsNarrowCallsGiveIt(process.userName);
        for (ProcessId id : process.namespaceIds) {
            // The platform's id, unsigned on Windows, read as signed 32 bits.
            const auto signedId = static_cast<std::int32_t>(static_cast<std::uint32_t>(id));
            owners.emplace(common::infoRecordName(signedId, user, "okr-info-"), process.pid);
        }
    }
}

ProcessId RecordOwners::of(const std::string& name) const
{
    if (kindOf(name) != Kind::info) {
        return 0;
    }
    const auto owner = owners.find(canonicalInfoName(name));
    return owner != owners.end() ? owner->second : 0;
}

void assess(ObjectRow& row, const ObjectUse& use, const RecordOwners& owners)
{
    row.users = use.pids;
    row.lockHolders = use.lockHolders;
    row.locksKnown = use.locksKnown;
    row.ownerProcess = row.setAside ? 0 : owners.of(row.file.name);
    if (row.ownerProcess != 0 && std::find(row.users.begin(), row.users.end(), row.ownerProcess) == row.users.end()) {
        row.users.insert(std::upper_bound(row.users.begin(), row.users.end(), row.ownerProcess), row.ownerProcess);
    }
    const bool byName = row.kind == Kind::info && !row.setAside; // its owner may open it by its name
    const bool ownerKnown = !byName || row.ownerProcess != 0 || owners.complete();
    row.usersComplete = use.complete && ownerKnown;
    if (!row.users.empty() || use.heldOpen) {
        row.state = State::inUse;
    } else if (use.complete && (!byName || owners.complete())) {
        row.state = State::orphaned;
    } else {
        row.state = State::unknown;
    }
}

namespace {

// Said on standard error, and the listing is incomplete.
void cannotOpen(Inventory& inventory, const std::string& path, const std::string& reason)
{
    std::cerr << "okr-shm: cannot open " << path << ": " << reason << std::endl;
    inventory.complete = false;
}

} // namespace

void sayWhatWasLeftUnread(Inventory& inventory, const ObjectUsers& users)
{
    if (users.unread() == 0 || inventory.leftUnread) {
        return;
    }
    std::cerr << "okr-shm: reading the processes took too long; " << users.unread()
              << " were not read, so any object not seen in use is unknown" << std::endl;
    inventory.leftUnread = true;
    inventory.complete = false;
}

bool listObjects(Inventory& inventory)
{
    const std::string path = sharedFolderPath();
    std::string reason;
    std::vector<FolderEntry> entries;
    if (!inventory.folder.open(path, reason) || !inventory.folder.list(entries, reason)) {
        if (!folderIsMissing(path)) {
            std::cerr << "okr-shm: cannot read the shared folder " << path << ": " << reason << std::endl;
            return false;
        }
        entries.clear(); // no process has made it yet, but earlier boots may have left folders
    }
    AccountNames accounts;
    // Looked at in the folder's own order, which is the file system's
    // cheapest, then put in name order in place.
    const auto isCandidate = [](const std::string& name) {
        return nameStartsWith(name, "okr-") || isSetAsideName(name) || isUnpublishedName(name);
    };
    std::vector<ObjectRow>& found = inventory.objects;
    found.reserve(static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [&isCandidate](const FolderEntry& entry) { return isCandidate(entry.name); })));
    for (FolderEntry& entry : entries) {
        if (!isCandidate(entry.name)) {
            continue;
        }
        ObjectRow row;
        row.setAside = isSetAsideName(entry.name);
        EntryType type = EntryType::other;
        const ObjectFolder::Look look = inventory.folder.inspect(entry.name, row.file, type, reason);
        if (look == ObjectFolder::Look::failed) {
            row.file.name = std::move(entry.name);
            row.kind = kindOf(row.file.name);
            row.state = State::unopened;
            row.openFailure = reason;
            found.push_back(std::move(row));
            continue;
        }
        if (look != ObjectFolder::Look::found || type != EntryType::file) {
            continue; // gone since it was listed, or no object: never followed
        }
        row.setAsideFrom = row.setAside ? setAsideFrom(row.file.name) : std::string();
        row.kind = kindOf(row.setAside ? row.setAsideFrom : row.file.name);
        row.owner = accounts.nameOf(row.file.ownerId);
        if (row.owner.empty()) {
            row.owner = row.file.ownerId;
        }
        found.push_back(std::move(row));
    }
    entries = std::vector<FolderEntry>();
    std::vector<std::size_t> order(found.size());
    for (std::size_t index = 0; index < order.size(); ++index) {
        order[index] = index;
    }
    std::sort(order.begin(), order.end(),
              [&found](std::size_t a, std::size_t b) { return found[a].file.name < found[b].file.name; });
    // Each row moves once, along the cycles of the permutation.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) {
            continue;
        }
        ObjectRow held = std::move(found[start]);
        std::size_t at = start;
        for (;;) {
            const std::size_t from = order[at];
            order[at] = at;
            if (from == start) {
                found[at] = std::move(held);
                break;
            }
            found[at] = std::move(found[from]);
            at = from;
        }
    }
    for (const ObjectRow& row : inventory.objects) {
        if (row.state == State::unopened) {
            cannotOpen(inventory, printedName(row.file.name), row.openFailure);
        }
    }
    inventory.earlier = earlierBoots(path);
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        for (const BootFolderFile& file : boot.files) {
            if (!file.openFailure.empty() && nameStartsWith(file.file.name, "okr-")) {
                cannotOpen(inventory, boot.path + "/" + printedName(file.file.name), file.openFailure);
            }
        }
    }
    return true;
}

void assessObjects(Inventory& inventory, const ObjectUsers& users)
{
    sayWhatWasLeftUnread(inventory, users);
    const RecordOwners owners(users.live());
    for (ObjectRow& row : inventory.objects) {
        if (row.state != State::unopened) {
            assess(row, users.of(row.file), owners);
        }
    }
}

bool takeInventory(Inventory& inventory)
{
    if (!listObjects(inventory)) {
        return false;
    }
    assessObjects(inventory, ObjectUsers(inventory.folder));
    return true;
}

} // namespace tool
} // namespace okr
