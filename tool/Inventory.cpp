#include "Inventory.h"

#include "AccountNames.h"
#include "host/PlatformText.h"
#include "host/SharedFolder.h"

#include "common/RecordName"

#include <wx/log.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>

namespace okr {
namespace tool {

namespace {

// Every name a live process would give its information record, and whose it
// is. A process names its record with its id in its own pid namespace.
std::map<std::string, ProcessId> recordOwners(const ProcessList& live)
{
    std::map<std::string, ProcessId> owners;
    for (const LiveProcess& process : live.processes) {
        const std::string user = host::platformTextToUtf8(process.userName);
        for (ProcessId id : process.namespaceIds) {
            // The platform's id, unsigned on Windows, read as signed 32 bits.
            const auto signedId = static_cast<std::int32_t>(static_cast<std::uint32_t>(id));
            owners.emplace(common::infoRecordName(signedId, user, "okr-info-"), process.pid);
        }
    }
    return owners;
}

State stateOf(const ObjectRow& row, const ObjectUse& use, bool ownersKnown)
{
    if (!row.users.empty() || use.heldOpen) {
        return State::inUse;
    }
    if (use.complete && (row.kind != Kind::info || ownersKnown)) {
        return State::orphaned;
    }
    return State::unknown;
}

} // namespace

const char* stateName(State state)
{
    switch (state) {
    case State::inUse: return "in use";
    case State::orphaned: return "orphaned";
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

bool takeInventory(Inventory& inventory)
{
    inventory.folder = host::sharedFolder();
    std::vector<std::string> names;
    {
        wxLogNull ownMessagesOnly;
        if (!host::forEachSharedFile(inventory.folder, "okr-*",
                                     [&names](const std::string& name) { names.push_back(name); })) {
            std::cerr << "okr-shm: cannot read the shared folder " << host::platformTextToUtf8(inventory.folder)
                      << std::endl;
            return false;
        }
    }
    std::sort(names.begin(), names.end());

    const ObjectUsers users(inventory.folder);
    const ProcessList live = liveProcesses();
    const std::map<std::string, ProcessId> owners = recordOwners(live);
    AccountNames accounts;
    for (const std::string& name : names) {
        ObjectRow row;
        if (!inspectObjectFile(inventory.folder, name, row.file)) {
            continue; // removed since it was listed
        }
        row.kind = kindOf(name);
        row.owner = accounts.nameOf(row.file.ownerId);
        if (row.owner.empty()) {
            row.owner = row.file.ownerId;
        }
        const ObjectUse use = users.of(row.file);
        row.users = use.pids;
        bool ownerKnown = false;
        if (row.kind == Kind::info) {
            const auto owner = owners.find(name);
            if (owner != owners.end()) {
                row.ownerProcess = owner->second;
                if (std::find(row.users.begin(), row.users.end(), owner->second) == row.users.end()) {
                    row.users.insert(std::upper_bound(row.users.begin(), row.users.end(), owner->second),
                                     owner->second);
                }
            }
            ownerKnown = row.ownerProcess != 0 || live.complete;
        }
        row.usersComplete = use.complete && (row.kind != Kind::info || ownerKnown);
        row.state = stateOf(row, use, live.complete);
        inventory.objects.push_back(row);
    }
    inventory.earlierBoots = earlierBoots(inventory.folder);
    return true;
}

} // namespace tool
} // namespace okr
