#ifndef OKR_TOOL_TEXTTABLE_H
#define OKR_TOOL_TEXTTABLE_H

#include <ostream>
#include <string>
#include <vector>

namespace okr {
namespace tool {

struct TableFormat {
    bool headings = true;
    // One space between fields and no padding, every field quoted as a name
    // is, so that a script can split a line at its spaces.
    bool raw = false;
};

// Rows under a header of upper-case column names, every column as wide as
// its widest cell on a terminal, numbers aligned on the right. Cells hold
// true text; a name column's cells are printed quoted (printedName).
class TextTable {
public:
    struct Column {
        std::string title;
        bool alignRight;
        bool name = false;
    };

    explicit TextTable(std::vector<Column> columns);

    void addRow(std::vector<std::string> cells);
    void print(std::ostream& out, const TableFormat& format = TableFormat()) const;

private:
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;
};

} // namespace tool
} // namespace okr

#endif
