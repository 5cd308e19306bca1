#ifndef OKR_TOOL_COMMANDS_H
#define OKR_TOOL_COMMANDS_H

#include "tool/output/TextTable.h"

#include <string>
#include <vector>

namespace okr {
namespace tool {

// Each returns the exit status: 0 when it did all it was asked, 1 when not.

struct ListOptions {
    bool json = false;
    TableFormat format;
    std::vector<std::string> columns; // titles of listColumns(), in the order wanted; empty for all
};

// The titles of list's table, in their own order.
const std::vector<std::string>& listColumns();

int listObjects(const ListOptions& options);
// The names show's NAME may mean, in the order they are looked up: NAME
// itself, then the name it spells when quoted as list prints names; only
// names an entry of a folder could have (isEntryName).
std::vector<std::string> namesMeant(const std::string& argument);
// names: what namesMeant gave, at least one.
int showObject(const std::vector<std::string>& names, bool json, bool hex);
int cleanObjects(bool dryRun);

} // namespace tool
} // namespace okr

#endif
