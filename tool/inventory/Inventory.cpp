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
#include <new>

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
            owners.emplace(infoChecksum(common::infoRecordName(signedId, user, "okr-info-")), process.pid);
        }
    }
}

ProcessId RecordOwners::of(const std::string& name) const
{
    const auto owner = owners.find(infoChecksum(name));
    return owner != owners.end() ? owner->second : 0;
}

void assess(ObjectRow& row, const ObjectUse& use, const RecordOwners& owners)
{
    row.users = use.pids;
    row.lockHolders = use.lockHolders;
    row.locksKnown = use.locksKnown;
    row.ownerProcess = row.setAside || row.kind != Kind::info ? 0 : owners.of(row.file.name);
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

// Puts rows in name order, each moved once. Names mostly share a long
// beginning ("okr-info-"): each is compared first by the eight bytes after
// what all share, as one number, and as a whole only where those are equal.
void sortByName(std::vector<ObjectRow>& rows)
{
    if (rows.empty()) {
        return;
    }
    const std::string& first = rows.front().file.name;
    std::size_t shared = first.size();
    for (const ObjectRow& row : rows) {
        const std::string& name = row.file.name;
        shared = std::min(shared, name.size());
        shared = static_cast<std::size_t>(
            std::mismatch(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(shared), name.begin()).first -
            first.begin());
    }
    struct Key {
        std::uint64_t bytes;
        std::size_t index;
    };
    std::vector<Key> keys(rows.size());
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const std::string& name = rows[index].file.name;
        std::uint64_t bytes = 0;
        for (std::size_t at = shared; at < shared + 8; ++at) {
            // No name holds a zero byte, so a shorter one sorts first.
            bytes = bytes << 8U | (at < name.size() ? static_cast<unsigned char>(name[at]) : 0U);
        }
        keys[index] = {bytes, index};
    }
    std::sort(keys.begin(), keys.end(), [&rows](const Key& a, const Key& b) {
        return a.bytes != b.bytes ? a.bytes < b.bytes : rows[a.index].file.name < rows[b.index].file.name;
    });
    // Along the cycles of the permutation.
    for (std::size_t start = 0; start < keys.size(); ++start) {
        if (keys[start].index == start) {
            continue;
        }
        ObjectRow held = std::move(rows[start]);
        std::size_t at = start;
        for (;;) {
            const std::size_t from = keys[at].index;
            keys[at].index = at;
            if (from == start) {
                rows[at] = std::move(held);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
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
    AccountNames accounts;
    const auto isCandidate = [](const std::string& name) {
        return nameStartsWith(name, "okr-") || isSetAsideName(name) || isUnpublishedName(name);
    };
    std::vector<ObjectRow>& found = inventory.objects;
    std::vector<std::pair<std::string, std::string>> failures; // name, reason: said in name order
    // Each entry is looked at as the listing gives it, in the folder's own
    // order, which is the file system's cheapest; then the rows are put in
    // name order in place. Room for them all is reserved at once: rows that
    // grow would be copied, and their room held twice.
    const auto inspect = [&](FolderEntry& entry) {
        if (!isCandidate(entry.name)) {
            return;
        }
        ObjectRow row;
        row.setAside = isSetAsideName(entry.name);
        EntryType type = EntryType::other;
        std::string reason;
        const ObjectFolder::Look look = inventory.folder.inspect(entry.name, row.file, type, reason);
        if (look == ObjectFolder::Look::failed) {
            failures.emplace_back(entry.name, reason);
            row.file.name = std::move(entry.name);
            row.kind = kindOf(row.file.name);
            row.state = State::unopened;
            found.push_back(std::move(row));
            return;
        }
        if (look != ObjectFolder::Look::found || type != EntryType::file) {
            return; // gone since it was listed, or no object: never followed
        }
        row.kind = row.setAside ? kindOf(setAsideFrom(row.file.name)) : kindOf(row.file.name);
        row.owner = accounts.nameOf(row.file.ownerId);
        if (row.owner.empty()) {
            row.owner = row.file.ownerId;
        }
        found.push_back(std::move(row));
    };
    std::string reason;
    bool read = false;
    if (inventory.folder.open(path, reason)) {
        // Every user can make the folder large: the room is a hint, bounded,
        // and given up where it cannot be had.
        constexpr std::size_t mostReserved = std::size_t{1} << 20;
        try {
            found.reserve(std::min(inventory.folder.entryCountHint(), mostReserved));
        } catch (const std::bad_alloc&) {
        }
        read = inventory.folder.forEach(inspect, reason);
    } else {
        read = folderIsMissing(path); // no process has made it yet, but earlier boots may have left folders
    }
    if (!read) {
        std::cerr << "okr-shm: cannot read the shared folder " << path << ": " << reason << std::endl;
        return false;
    }
    sortByName(found);
    std::sort(failures.begin(), failures.end());
    for (const auto& [name, failure] : failures) {
        cannotOpen(inventory, printedName(name), failure);
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
