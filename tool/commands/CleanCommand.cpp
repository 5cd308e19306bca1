#include "tool/commands/Commands.h"
#include "tool/folder/FileRemoval.h"
#include "tool/folder/NameRules.h"
#include "tool/folder/UnpublishedName.h"
#include "tool/inventory/Inventory.h"
#include "tool/output/PrintedName.h"

#include <iostream>
#include <memory>
#include <utility>
#include <vector>

namespace okr {
namespace tool {

namespace {

const char* const unknownState = "state unknown: not every process could be inspected";

// Why an object of the shared folder stays whoever uses it; empty when
// only its users may keep it. A leftover under a hidden name, an earlier
// clean's or a creator's that never published it, stays only while someone
// uses it.
std::string lastingReason(const ObjectRow& row)
{
    if (row.state == State::unopened) {
        return "cannot be opened"; // the reason went to standard error
    }
    if (row.kind == Kind::sync && !row.setAside) {
        return "okr-sync is never removed";
    }
    if (row.kind != Kind::info && row.kind != Kind::unpublished && !row.setAside) {
        return "not an information record";
    }
    return std::string();
}

// Why an object of the shared folder, its users assessed, stays; empty
// when it may go.
std::string reasonToKeep(const ObjectRow& row)
{
    std::string lasting = lastingReason(row);
    if (!lasting.empty()) {
        return lasting;
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

    bool onlyTelling() const { return dryRun; }

    void keep(const std::string& label, const std::string& reason) { say("kept " + label + ": " + reason); }

    // Says how a removal ended; true when the object is gone.
    bool report(const Removal& removal, const std::string& label)
    {
        switch (removal.outcome) {
        case Removal::removed: say("removed " + label); return true;
        case Removal::alreadyGone: say("already gone " + label); return true;
        case Removal::kept: keep(label, removal.reason); return false;
        case Removal::failed: break;
        }
        // Once, on standard error, as rm says it.
        say("okr-shm: cannot remove " + label + ": " + removal.reason, true);
        failed = true;
        return false;
    }

    // While locks are held, lines wait in memory: output that blocks (a pipe
    // nobody reads) must not keep a product from its record.
    void hold() { holding = true; }
    void release()
    {
        holding = false;
        for (const Line& line : held) {
            write(line);
        }
        held.clear();
        std::cout.flush();
    }

    bool removeFolder(const ObjectFolder& parent, const EarlierBoot& boot)
    {
        if (dryRun) {
            std::cout << "would remove folder " << boot.path << '\n';
            return true;
        }
        return report(removeEmptyFolder(parent, boot.stamp, boot.folder), "folder " + boot.path);
    }

    bool allDone() const { return !failed; }

private:
    struct Line {
        std::string text;
        bool error;
    };

    void say(std::string text, bool error = false)
    {
        if (holding) {
            held.push_back({std::move(text), error});
        } else {
            write({std::move(text), error});
        }
    }

    static void write(const Line& line)
    {
        if (line.error) {
            std::cerr << line.text << std::endl;
        } else {
            std::cout << line.text << '\n';
        }
    }

    bool dryRun;
    bool failed = false;
    bool holding = false;
    std::vector<Line> held;
};

// The inventory's judgement, made on the candidates once they are locked,
// from who uses them then and which processes are alive then. Output goes
// out in blocks, as list's does: the lines of what stays, in name order,
// then those of the removals; in rounds, each round's lines of what stays
// come before its removals.
class Judgement : public RemovalJudge {
public:
    Judgement(Inventory& taken, Cleaner& reporter) : inventory(taken), cleaner(reporter)
    {
        for (std::size_t at = 0; at < inventory.objects.size(); ++at) {
            reasons.push_back(lastingReason(inventory.objects[at]));
            if (reasons.back().empty()) {
                rows.push_back(at);
                candidates.push_back(inventory.objects[at].file);
            }
        }
    }

    // The objects only their users may keep, in name order.
    std::vector<ObjectFile> candidates;

    void survey(const ObjectUsers& users) override
    {
        sayWhatWasLeftUnread(inventory, users);
        owners = std::make_unique<RecordOwners>(users.live());
    }

    std::string verdict(std::size_t index, const ObjectUse& now) override
    {
        ObjectRow& row = inventory.objects[rows[index]];
        assess(row, now, *owners);
        reasons[rows[index]] = reasonToKeep(row);
        return reasons[rows[index]];
    }

    // The round's lines go out once its last candidate is settled, all its
    // locks let go.
    void judged(std::size_t end) override
    {
        roundEnd = end;
        cleaner.hold();
        sayWhatStays(end == rows.size() ? reasons.size() : rows[end]);
    }

    void settled(std::size_t index, const Removal& removal) override
    {
        if (reasons[rows[index]].empty()) { // said already if its verdict kept it
            cleaner.report(removal, printedName(inventory.objects[rows[index]].file.name));
        }
        if (index + 1 == roundEnd) {
            cleaner.release();
        }
    }

    // The lines of what stays, up to the object end.
    void sayWhatStays(std::size_t end)
    {
        for (; said < end; ++said) {
            if (!reasons[said].empty()) {
                cleaner.keep(printedName(inventory.objects[said].file.name), reasons[said]);
            }
        }
    }

    // What stays ahead of the first candidate, said before anything is locked.
    void sayWhatStaysAhead()
    {
        sayWhatStays(rows.empty() ? reasons.size() : rows.front());
        std::cout.flush();
    }

private:
    Inventory& inventory;
    Cleaner& cleaner;
    std::vector<std::string> reasons; // of each object, once judged
    std::vector<std::size_t> rows;    // of each candidate
    std::unique_ptr<RecordOwners> owners;
    std::size_t said = 0;
    std::size_t roundEnd = 0;
};

// An earlier boot's file, gone or kept.
class HeldOrFree : public RemovalJudge {
public:
    HeldOrFree(std::string path, Cleaner& reporter) : label(std::move(path)), cleaner(reporter) {}

    void survey(const ObjectUsers&) override {}
    void judged(std::size_t) override {}
    std::string verdict(std::size_t, const ObjectUse& now) override { return heldOrFree(now); }
    void settled(std::size_t, const Removal& removal) override { gone = cleaner.report(removal, label); }

    bool gone = false;

private:
    std::string label;
    Cleaner& cleaner;
};

void cleanEarlierBoot(Cleaner& cleaner, const ObjectFolder& parent, const EarlierBoot& boot)
{
    if (boot.link) {
        cleaner.keep("folder " + boot.path, "a link, never entered");
        return;
    }
    bool emptied = boot.others == 0;
    for (const BootFolderFile& file : boot.files) {
        const std::string path = boot.path + "/" + printedName(file.file.name);
        if (!nameStartsWith(file.file.name, "okr-") && !isUnpublishedName(file.file.name)) {
            emptied = false; // not ours to remove, nor to report
            continue;
        }
        const std::string reason = reasonToKeep(file);
        if (!reason.empty()) {
            cleaner.keep(path, reason);
            emptied = false;
            continue;
        }
        if (cleaner.onlyTelling()) {
            std::cout << "would remove " << path << '\n';
            continue;
        }
        HeldOrFree judge(path, cleaner);
        removeObjects(boot.folder, {file.file}, judge);
        emptied = judge.gone && emptied;
    }
    if (emptied) {
        cleaner.removeFolder(parent, boot);
    } else {
        cleaner.keep("folder " + boot.path, "not empty");
    }
}

} // namespace

// A dry run reads the processes with the folder, as list does; clean reads
// them only once its candidates are locked, in each round of removals.
int cleanObjects(bool dryRun)
{
    Inventory inventory;
    if (!(dryRun ? takeInventory(inventory) : listObjects(inventory))) {
        return 1;
    }
    Cleaner cleaner(dryRun);
    if (dryRun) {
        for (const ObjectRow& row : inventory.objects) {
            const std::string reason = reasonToKeep(row);
            if (!reason.empty()) {
                cleaner.keep(printedName(row.file.name), reason);
            }
        }
        for (const ObjectRow& row : inventory.objects) {
            if (reasonToKeep(row).empty()) {
                std::cout << "would remove " << printedName(row.file.name) << '\n';
            }
        }
    } else {
        Judgement judge(inventory, cleaner);
        judge.sayWhatStaysAhead();
        if (!judge.candidates.empty()) {
            removeObjects(inventory.folder, judge.candidates, judge);
        }
        judge.sayWhatStays(inventory.objects.size());
    }
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        cleanEarlierBoot(cleaner, inventory.earlier.parent, boot);
    }
    return cleaner.allDone() && inventory.complete ? 0 : 1;
}

} // namespace tool
} // namespace okr
