#include "Commands.h"
#include "Inventory.h"
#include "JsonOutput.h"
#include "LocalTime.h"
#include "TextTable.h"

#include <iostream>

namespace okr {
namespace tool {

namespace {

// The pids; "?" after them, or "unknown" alone, when processes the tool
// could not inspect may use the object too.
std::string usersText(const ObjectRow& row)
{
    const std::string text = pidList(row.users);
    if (!row.usersComplete) {
        return text.empty() ? "unknown" : text + ",?";
    }
    return text.empty() ? "-" : text;
}

// Held when any file is held, free when every file is free.
Hold folderHold(const EarlierBoot& boot)
{
    Hold folder = Hold::free;
    for (const BootFolderFile& file : boot.files) {
        if (file.hold == Hold::held) {
            return Hold::held;
        }
        if (file.hold == Hold::unknown) {
            folder = Hold::unknown;
        }
    }
    return folder;
}

const char* openText(const EarlierBoot& boot)
{
    if (boot.link) {
        return "-";
    }
    switch (folderHold(boot)) {
    case Hold::held: return "yes";
    case Hold::free: return "no";
    case Hold::unknown: break;
    }
    return "unknown";
}

std::uint64_t totalBytes(const EarlierBoot& boot)
{
    std::uint64_t total = 0;
    for (const BootFolderFile& file : boot.files) {
        total += file.file.size;
    }
    return total;
}

void printTable(const Inventory& inventory)
{
    TextTable objects({{"NAME", false},
                       {"KIND", false},
                       {"SIZE", true},
                       {"LAYOUT", false},
                       {"OWNER", false},
                       {"MODIFIED", false},
                       {"USERS", false},
                       {"STATE", false}});
    for (const ObjectRow& row : inventory.objects) {
        objects.addRow({row.file.name, kindName(row.kind), std::to_string(row.file.size), layoutText(row), row.owner,
                        isoLocalTime(row.file.modified), usersText(row), stateName(row.state)});
    }
    objects.print(std::cout);
    if (inventory.earlier.boots.empty()) {
        return;
    }
    TextTable boots({{"EARLIER BOOT", false}, {"TYPE", false}, {"FILES", true}, {"BYTES", true}, {"OPEN", false}});
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        // A link is never entered: what it leads to is not counted.
        boots.addRow({boot.stamp, boot.link ? "link" : "folder", boot.link ? "-" : std::to_string(boot.files.size()),
                      boot.link ? "-" : std::to_string(totalBytes(boot)), openText(boot)});
    }
    std::cout << '\n';
    boots.print(std::cout);
}

nlohmann::json objectJson(const ObjectRow& row)
{
    return {{"name", row.file.name},
            {"kind", kindName(row.kind)},
            {"size", row.file.size},
            {"layout", recordLayout(row.kind) == nullptr ? nlohmann::json() : nlohmann::json(layoutText(row))},
            {"owner", row.owner},
            {"modified", isoLocalTime(row.file.modified)},
            {"users", row.users},
            {"users_complete", row.usersComplete},
            {"owner_process", row.ownerProcess != 0 ? nlohmann::json(row.ownerProcess) : nlohmann::json()},
            {"state", stateName(row.state)}};
}

nlohmann::json bootJson(const EarlierBoot& boot)
{
    const Hold hold = folderHold(boot);
    const nlohmann::json none;
    return {{"name", boot.stamp},
            {"kind", "earlier boot"},
            {"folder", boot.path},
            {"link", boot.link},
            {"files", boot.link ? none : nlohmann::json(boot.files.size())},
            {"size", boot.link ? none : nlohmann::json(totalBytes(boot))},
            {"open", boot.link || hold == Hold::unknown ? none : nlohmann::json(hold == Hold::held)}};
}

} // namespace

int listObjects(bool json)
{
    Inventory inventory;
    if (!takeInventory(inventory)) {
        return 1;
    }
    const int status = inventory.complete ? 0 : 1;
    if (!json) {
        printTable(inventory);
        return status;
    }
    nlohmann::json rows = nlohmann::json::array();
    for (const ObjectRow& row : inventory.objects) {
        rows.push_back(objectJson(row));
    }
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        rows.push_back(bootJson(boot));
    }
    printJson(rows, std::cout);
    return status;
}

} // namespace tool
} // namespace okr
