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
int showObject(const std::string& name, bool json, bool hex);
int cleanObjects(bool dryRun);

} // namespace tool
} // namespace okr

#endif
