#include "tool/commands/Commands.h"
#include "tool/folder/FileRemoval.h"
#include "tool/folder/NameRules.h"
#include "tool/inventory/Inventory.h"
#include "tool/output/PrintedName.h"

#include <iostream>

namespace okr {
namespace tool {

namespace {

const char* const unknownState = "state unknown: not every process could be inspected";

// Why an object of the shared folder stays; empty when it may go.
std::string reasonToKeep(const ObjectRow& row)
{
    if (row.state == State::unopened) {
        return "cannot be opened"; // the reason went to standard error
    }
    if (row.kind == Kind::sync) {
        return "okr-sync is never removed";
    }
    if (row.kind != Kind::info) {
        return "not an information record";
    }
    switch (row.state) {
    case State::inUse: return row.users.empty() ? "in use (held open)" : "in use by " + pidList(row.users);
    case State::unopened: // said above
    case State::unknown: return unknownState;
    case State::orphaned: break;
    }
    return std::string();
}

std::string reasonToKeep(const BootFolderFile& file)
{
    if (kindOf(file.file.name) == Kind::sync) {
        return "okr-sync is never removed";
    }
    if (!file.openFailure.empty()) {
        return "cannot be opened"; // the reason went to standard error
    }
    switch (file.hold) {
    case Hold::held: return "held open";
    case Hold::unknown: return "cannot tell whether it is open";
    case Hold::free: break;
    }
    return std::string();
}

// The inventory's judgement made again from who uses the object now and which
// processes are alive now: a process may have begun to use it since.
Verdict judgedAgain(const ObjectRow& row)
{
    return [row](const ObjectUse& now) {
        ObjectRow again = row;
        assess(again, now, RecordOwners(liveProcesses()));
        return reasonToKeep(again);
    };
}

// An earlier boot's file has no owner among the processes of this boot.
std::string heldOrFree(const ObjectUse& now)
{
    if (now.heldOpen) {
        return "held open";
    }
    return now.complete ? std::string() : "cannot tell whether it is open";
}

class Cleaner {
public:
    explicit Cleaner(bool dryRunOnly) : dryRun(dryRunOnly) {}

    // Removes the file, or says why not; true when it is gone (or would be).
    bool remove(const ObjectFolder& folder, const ObjectFile& file, const std::string& label, const Verdict& verdict)
    {
        if (dryRun) {
            std::cout << "would remove " << label << std::endl;
            return true;
        }
        return report(removeObject(folder, file, verdict), label);
    }

    bool removeFolder(const ObjectFolder& parent, const EarlierBoot& boot)
    {
        if (dryRun) {
            std::cout << "would remove folder " << boot.path << std::endl;
            return true;
        }
        return report(removeEmptyFolder(parent, boot.stamp, boot.folder), "folder " + boot.path);
    }

    static void keep(const std::string& label, const std::string& reason)
    {
        std::cout << "kept " << label << ": " << reason << std::endl;
    }

    bool allDone() const { return !failed; }

private:
    bool report(const Removal& removal, const std::string& label)
    {
        switch (removal.outcome) {
        case Removal::removed: std::cout << "removed " << label << std::endl; return true;
        case Removal::alreadyGone: std::cout << "already gone " << label << std::endl; return true;
        case Removal::kept: keep(label, removal.reason); return false;
        case Removal::failed: break;
        }
        // Once, on standard error, as rm says it.
        std::cerr << "okr-shm: cannot remove " << label << ": " << removal.reason << std::endl;
        failed = true;
        return false;
    }

    bool dryRun;
    bool failed = false;
};

void cleanEarlierBoot(Cleaner& cleaner, const ObjectFolder& parent, const EarlierBoot& boot)
{
    if (boot.link) {
        Cleaner::keep("folder " + boot.path, "a link, never entered");
        return;
    }
    bool emptied = boot.others == 0;
    for (const BootFolderFile& file : boot.files) {
        const std::string path = boot.path + "/" + printedName(file.file.name);
        if (!nameStartsWith(file.file.name, "okr-")) {
            emptied = false; // not ours to remove, nor to report
            continue;
        }
        const std::string reason = reasonToKeep(file);
        if (!reason.empty()) {
            Cleaner::keep(path, reason);
            emptied = false;
            continue;
        }
        emptied = cleaner.remove(boot.folder, file.file, path, heldOrFree) && emptied;
    }
    if (emptied) {
        cleaner.removeFolder(parent, boot);
    } else {
        Cleaner::keep("folder " + boot.path, "not empty");
    }
}

} // namespace

int cleanObjects(bool dryRun)
{
    Inventory inventory;
    if (!takeInventory(inventory)) {
        return 1;
    }
    Cleaner cleaner(dryRun);
    for (const ObjectRow& row : inventory.objects) {
        const std::string reason = reasonToKeep(row);
        if (reason.empty()) {
            cleaner.remove(inventory.folder, row.file, printedName(row.file.name), judgedAgain(row));
        } else {
            Cleaner::keep(printedName(row.file.name), reason);
        }
    }
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        cleanEarlierBoot(cleaner, inventory.earlier.parent, boot);
    }
    return cleaner.allDone() && inventory.complete ? 0 : 1;
}

} // namespace tool
} // namespace okr
