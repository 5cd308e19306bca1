#ifndef OKR_TOOL_INVENTORY_H
#define OKR_TOOL_INVENTORY_H

#include "tool/folder/EarlierBoots.h"
#include "tool/folder/ObjectFile.h"
#include "tool/folder/ObjectFolder.h"
#include "tool/inventory/ProcessTable.h"
#include "tool/inventory/RecordLayout.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace okr {
namespace tool {

// unopened: listed by the folder but not opened, so nothing else is known.
enum class State { inUse, orphaned, unknown, unopened };

const char* stateName(State state);

// A list may hold a hundred thousand rows: the small members are together,
// with no padding between them.
struct ObjectRow {
    ObjectFile file;
    Kind kind = Kind::other;
    State state = State::unknown;
    std::string owner; // the owner's name in UTF-8, or its id when it has none
    std::vector<ProcessId> users;
    std::vector<ProcessId> lockHolders; // the users its locks declare (ObjectUse)
    ProcessId ownerProcess = 0;         // an information record's live process, if any
    bool usersComplete = false;
    bool locksKnown = false;
    // A leftover of an earlier version's clean that ended before it settled
    // the object: under a hidden name, which no product opens, so only its
    // users count.
    bool setAside = false;
};

// The ids joined by commas.
std::string pidList(const std::vector<ProcessId>& pids);

// "ok" or "wrong size" for a record, "-" for an object that holds none.
const char* layoutText(const ObjectRow& row);

// Every name a live process would give its information record, and whose
// it is.
class RecordOwners {
public:
    explicit RecordOwners(const ProcessList& live);
    // The live process an information record belongs to, by the record's
    // name (of kind info); 0 for none.
    ProcessId of(const std::string& name) const;
    // False when processes the tool could not see may own records too.
    bool complete() const { return everyProcess; }

private:
    std::unordered_map<std::string, ProcessId> owners; // by the names' checksums
    bool everyProcess;
};

// Sets users, owner process, completeness and state of row from who uses
// its file and which processes are alive.
void assess(ObjectRow& row, const ObjectUse& use, const RecordOwners& owners);

struct Inventory {
    ObjectFolder folder;
    std::vector<ObjectRow> objects; // sorted by name
    EarlierBoots earlier;
    // false when an entry could not be opened or processes were left unread
    // (said on standard error)
    bool complete = true;
    bool leftUnread = false; // said once, however many readings stopped
};

// Every regular file in the shared folder whose name matches "okr-*", is a
// set-aside one (SetAsideName.h) or an unpublished one (UnpublishedName.h);
// every such entry that cannot be opened, as unopened. A missing folder holds
// nothing. False, after saying so on standard error, when the folder cannot
// be read. Who uses what is left unknown: clean reads the processes only once
// its locks are taken.
bool listObjects(Inventory& inventory);

// Who uses each object listed, from one reading of the processes.
void assessObjects(Inventory& inventory, const ObjectUsers& users);

// Once, on standard error, when the reading stopped at its deadline: then
// the inventory is incomplete.
void sayWhatWasLeftUnread(Inventory& inventory, const ObjectUsers& users);

// listObjects, then assessObjects with one reading of the processes.
bool takeInventory(Inventory& inventory);

} // namespace tool
} // namespace okr

#endif
