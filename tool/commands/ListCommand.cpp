#include "tool/commands/Commands.h"
#include "tool/folder/SetAsideName.h"
#include "tool/inventory/Inventory.h"
#include "tool/output/JsonOutput.h"
#include "tool/output/JsonWriter.h"
#include "tool/output/LocalTime.h"
#include "tool/output/PrintedName.h"
#include "tool/output/TextTable.h"

#include <algorithm>
#include <iostream>

namespace okr {
namespace tool {

namespace {

// The ids joined by commas, into the cell being written.
void appendPids(TableRow& cells, const std::vector<ProcessId>& pids)
{
    for (std::size_t i = 0; i < pids.size(); ++i) {
        cells.append(i == 0 ? "" : ",");
        cells.appendNumber(static_cast<std::uint64_t>(pids[i]));
    }
}

// The pids; "?" after them, or "unknown" alone, when processes the tool
// could not inspect may use the object too.
void addUsers(TableRow& cells, const ObjectRow& row)
{
    if (row.users.empty()) {
        cells.add(row.usersComplete ? "-" : "unknown");
        return;
    }
    appendPids(cells, row.users);
    if (!row.usersComplete) {
        cells.append(",?");
    }
    cells.endCell();
}

// The processes the object's locks name; "unknown" where the system does not tell.
void addLocks(TableRow& cells, const ObjectRow& row)
{
    if (!row.locksKnown || row.lockHolders.empty()) {
        cells.add(row.locksKnown ? "-" : "unknown");
        return;
    }
    appendPids(cells, row.lockHolders);
    cells.endCell();
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

const std::vector<TextTable::Column>& objectColumns()
{
    static const std::vector<TextTable::Column> columns{
        {"NAME", false, true}, {"KIND", false},  {"SIZE", true},   {"LAYOUT", false}, {"OWNER", false, true},
        {"MODIFIED", false},   {"USERS", false}, {"LOCKS", false}, {"STATE", false}};
    return columns;
}

// Adds the cell of an object in the column at that position of
// objectColumns().
void addCell(TableRow& cells, const ObjectRow& object, std::size_t column)
{
    if (object.state == State::unopened && column >= 2 && column <= 5) {
        cells.add("-"); // nothing is known but its name
        return;
    }
    switch (column) {
    case 0: cells.add(object.file.name); break;
    case 1: cells.add(kindName(object.kind)); break;
    case 2: cells.add(object.file.size); break;
    case 3: cells.add(layoutText(object)); break;
    case 4: cells.add(object.owner); break;
    case 5: cells.add(isoLocalTime(object.file.modified)); break;
    case 6: addUsers(cells, object); break;
    case 7: addLocks(cells, object); break;
    default: cells.add(stateName(object.state)); break;
    }
}

// The positions in objectColumns() of the columns asked for, in their order.
std::vector<std::size_t> chosenColumns(const std::vector<std::string>& titles)
{
    const std::vector<TextTable::Column>& all = objectColumns();
    std::vector<std::size_t> chosen;
    for (const std::string& title : titles) {
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&title](const TextTable::Column& column) { return column.title == title; });
        if (found != all.end()) {
            chosen.push_back(static_cast<std::size_t>(found - all.begin()));
        }
    }
    if (titles.empty()) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

void printTable(const Inventory& inventory, const ListOptions& options)
{
    const std::vector<std::size_t> chosen = chosenColumns(options.columns);
    std::vector<TextTable::Column> columns;
    columns.reserve(chosen.size());
    for (std::size_t column : chosen) {
        columns.push_back(objectColumns()[column]);
    }
    const TextTable objects(columns, inventory.objects.size(),
                            [&inventory, &chosen](std::size_t index, TableRow& cells) {
                                for (std::size_t column : chosen) {
                                    addCell(cells, inventory.objects[index], column);
                                }
                            });
    objects.print(std::cout, options.format);
    // -n, -o and --raw make the table one for a script to read: a second
    // table would read as more rows. Scripts find earlier boots in --json.
    const bool forScripts = !options.format.headings || options.format.raw || !options.columns.empty();
    if (inventory.earlier.boots.empty() || forScripts) {
        return;
    }
    const std::vector<EarlierBoot>& earlier = inventory.earlier.boots;
    const TextTable boots({{"EARLIER BOOT", false}, {"TYPE", false}, {"FILES", true}, {"BYTES", true}, {"OPEN", false}},
                          earlier.size(), [&earlier](std::size_t index, TableRow& cells) {
                              // A link is never entered: what it leads to is not counted.
                              const EarlierBoot& boot = earlier[index];
                              cells.add(boot.stamp);
                              cells.add(boot.link ? "link" : "folder");
                              if (boot.link) {
                                  cells.add("-");
                                  cells.add("-");
                              } else {
                                  cells.add(static_cast<std::uint64_t>(boot.files.size()));
                                  cells.add(totalBytes(boot));
                              }
                              cells.add(openText(boot));
                          });
    std::cout << '\n';
    boots.print(std::cout, options.format);
}

void writeNumbers(JsonWriter& json, const std::vector<ProcessId>& numbers)
{
    json.beginArray();
    for (ProcessId number : numbers) {
        json.number(static_cast<std::int64_t>(number));
    }
    json.endArray();
}

// The keys in the order nlohmann::json sorts them, as before.
void writeObject(JsonWriter& json, const ObjectRow& row)
{
    json.beginObject();
    json.key("kind");
    json.string(kindName(row.kind));
    // Of an entry that could not be opened nothing is known but its name.
    const bool opened = row.state != State::unopened;
    json.key("layout");
    if (recordLayout(row.kind) == nullptr || !opened) {
        json.null();
    } else {
        json.string(layoutText(row));
    }
    // The users the object's locks declare, beside those the scan found.
    json.key("lock_holders");
    if (row.locksKnown && opened) {
        writeNumbers(json, row.lockHolders);
    } else {
        json.null();
    }
    json.key("modified");
    if (opened) {
        json.string(isoLocalTime(row.file.modified));
    } else {
        json.null();
    }
    json.key("name");
    json.string(jsonText(row.file.name));
    json.key("name_quoted");
    json.string(printedName(row.file.name));
    json.key("owner");
    if (opened) {
        json.string(jsonText(row.owner));
    } else {
        json.null();
    }
    json.key("owner_process");
    if (row.ownerProcess != 0) {
        json.number(static_cast<std::int64_t>(row.ownerProcess));
    } else {
        json.null();
    }
    // A leftover of a clean that ended early, and the name it had.
    json.key("set_aside");
    json.boolean(row.setAside);
    json.key("set_aside_from");
    const std::string from = row.setAside ? setAsideFrom(row.file.name) : std::string();
    if (!from.empty()) {
        json.string(jsonText(from));
    } else {
        json.null();
    }
    json.key("size");
    if (opened) {
        json.number(row.file.size);
    } else {
        json.null();
    }
    json.key("state");
    json.string(stateName(row.state));
    json.key("users");
    writeNumbers(json, row.users);
    json.key("users_complete");
    json.boolean(row.usersComplete);
    json.endObject();
}

void writeBoot(JsonWriter& json, const EarlierBoot& boot)
{
    const Hold hold = folderHold(boot);
    json.beginObject();
    json.key("files");
    if (boot.link) {
        json.null(); // a link is never entered
    } else {
        json.number(static_cast<std::uint64_t>(boot.files.size()));
    }
    json.key("folder");
    json.string(jsonText(boot.path));
    json.key("kind");
    json.string("earlier boot");
    json.key("link");
    json.boolean(boot.link);
    json.key("name");
    json.string(jsonText(boot.stamp));
    json.key("name_quoted");
    json.string(printedName(boot.stamp));
    json.key("open");
    if (boot.link || hold == Hold::unknown) {
        json.null();
    } else {
        json.boolean(hold == Hold::held);
    }
    json.key("size");
    if (boot.link) {
        json.null();
    } else {
        json.number(totalBytes(boot));
    }
    json.endObject();
}

} // namespace

const std::vector<std::string>& listColumns()
{
    static const std::vector<std::string> titles = [] {
        std::vector<std::string> all;
        for (const TextTable::Column& column : objectColumns()) {
            all.push_back(column.title);
        }
        return all;
    }();
    return titles;
}

int listObjects(const ListOptions& options)
{
    Inventory inventory;
    if (!takeInventory(inventory)) {
        return 1;
    }
    // Rows that could not be inspected were said on standard error.
    const int status = inventory.complete ? 0 : 1;
    if (!options.json) {
        printTable(inventory, options);
        return status;
    }
    JsonWriter json(std::cout);
    json.beginArray();
    for (const ObjectRow& row : inventory.objects) {
        writeObject(json, row);
    }
    for (const EarlierBoot& boot : inventory.earlier.boots) {
        writeBoot(json, boot);
    }
    json.endArray();
    json.finish();
    return status;
}

} // namespace tool
} // namespace okr
