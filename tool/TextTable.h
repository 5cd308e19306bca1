#ifndef OKR_TOOL_TEXTTABLE_H
#define OKR_TOOL_TEXTTABLE_H

#include <ostream>
#include <string>
#include <vector>

namespace okr {
namespace tool {

// Rows under a header of upper-case column names, every column as wide as
// its widest cell, numbers aligned on the right.
class TextTable {
public:
    struct Column {
        std::string title;
        bool alignRight;
    };

    explicit TextTable(std::vector<Column> columns);

    void addRow(std::vector<std::string> cells);
    void print(std::ostream& out) const;

private:
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;
};

} // namespace tool
} // namespace okr

#endif
