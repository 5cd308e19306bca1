#ifndef OKR_TOOL_INVENTORY_H
#define OKR_TOOL_INVENTORY_H

#include "EarlierBoots.h"
#include "ObjectFile.h"
#include "ProcessTable.h"
#include "RecordLayout.h"

#include <string>
#include <vector>

namespace okr {
namespace tool {

enum class State { inUse, orphaned, unknown };

const char* stateName(State state);

struct ObjectRow {
    ObjectFile file;
    Kind kind = Kind::other;
    std::string owner; // the owner's name, or its id when it has none
    std::vector<ProcessId> users;
    bool usersComplete = false;
    ProcessId ownerProcess = 0; // an information record's live process, if any
    State state = State::unknown;
};

// The ids joined by commas.
std::string pidList(const std::vector<ProcessId>& pids);

// "ok" or "wrong size" for a record, "-" for an object that holds none.
const char* layoutText(const ObjectRow& row);

struct Inventory {
    std::string folder;
    std::vector<ObjectRow> objects; // sorted by name
    std::vector<EarlierBoot> earlierBoots;
};

// Everything in the shared folder whose name matches "okr-*", and who uses
// it. False, after saying so on standard error, when the folder cannot be
// read.
bool takeInventory(Inventory& inventory);

} // namespace tool
} // namespace okr

#endif
