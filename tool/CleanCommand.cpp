#include "Commands.h"
#include "FileRemoval.h"
#include "Inventory.h"
#include "PrintedName.h"
#include "host/PlatformText.h"

#include <cctype>
#include <iostream>

namespace okr {
namespace tool {

namespace {

// Why an object of the shared folder stays; empty when it may go.
std::string reasonToKeep(const ObjectRow& row)
{
    if (row.kind == Kind::sync) {
        return "okr-sync is never removed";
    }
    if (row.kind != Kind::info) {
        return "not an information record";
    }
    switch (row.state) {
    case State::inUse: return row.users.empty() ? "in use (held open)" : "in use by " + pidList(row.users);
    case State::unknown: return "state unknown: not every process could be inspected";
    case State::orphaned: break;
    }
    return std::string();
}

// The platform's "okr-*": Windows matches names without regard to case.
bool isProductFile(const std::string& name)
{
    const std::string prefix = "okr-";
    if (name.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string reasonToKeep(const BootFolderFile& file)
{
    if (kindOf(file.name) == Kind::sync) {
        return "okr-sync is never removed";
    }
    switch (file.hold) {
    case Hold::held: return "held open";
    case Hold::unknown: return "cannot tell whether it is open";
    case Hold::free: break;
    }
    return std::string();
}

class Cleaner {
public:
    explicit Cleaner(bool dryRunOnly) : dryRun(dryRunOnly) {}

    // Removes path, or says why not; true when it is gone (or would be).
    bool remove(const std::string& path, const std::string& label)
    {
        if (dryRun) {
            std::cout << "would remove " << label << std::endl;
            return true;
        }
        const Removal removal = removeFile(path);
        return report(removal, label);
    }

    bool removeFolder(const std::string& path)
    {
        if (dryRun) {
            std::cout << "would remove folder " << host::platformTextToUtf8(path) << std::endl;
            return true;
        }
        return report(removeEmptyFolder(path), "folder " + host::platformTextToUtf8(path));
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
        case Removal::held: keep(label, "held open"); return false;
        case Removal::failed: break;
        }
        keep(label, "cannot remove: " + removal.reason);
        std::cerr << "okr-shm: cannot remove " << label << ": " << removal.reason << std::endl;
        failed = true;
        return false;
    }

    bool dryRun;
    bool failed = false;
};

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
            cleaner.remove(inventory.folder + "/" + row.file.name, printedName(row.file.name));
        } else {
            Cleaner::keep(printedName(row.file.name), reason);
        }
    }
    for (const EarlierBoot& boot : inventory.earlierBoots) {
        bool emptied = true;
        for (const BootFolderFile& file : boot.files) {
            const std::string path = boot.path + "/" + file.name;
            const std::string label = host::platformTextToUtf8(boot.path) + "/" + printedName(file.name);
            if (!isProductFile(file.name)) {
                emptied = false; // not ours to remove, nor to report
                continue;
            }
            const std::string reason = reasonToKeep(file);
            if (!reason.empty()) {
                Cleaner::keep(label, reason);
                emptied = false;
                continue;
            }
            emptied = cleaner.remove(path, label) && emptied;
        }
        if (emptied) {
            cleaner.removeFolder(boot.path);
        } else {
            Cleaner::keep("folder " + host::platformTextToUtf8(boot.path), "not empty");
        }
    }
    return cleaner.allDone() ? 0 : 1;
}

} // namespace tool
} // namespace okr
