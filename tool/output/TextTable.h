#ifndef OKR_TOOL_TEXTTABLE_H
#define OKR_TOOL_TEXTTABLE_H

#include <cstddef>
#include <functional>
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
// A table of rows given beforehand keeps them; one of a folder's objects,
// which may be a hundred thousand, keeps none: it asks for each row's cells
// when it measures the columns and again when it prints the row.
class TextTable {
public:
    struct Column {
        std::string title;
        bool alignRight;
        bool name = false;
    };
    // Sets cells (one per column, in their order, as left by the row before)
    // to those of row index.
    using Rows = std::function<void(std::size_t index, std::vector<std::string>& cells)>;

    TextTable(std::vector<Column> columns, std::size_t rowCount, Rows rows);
    // Rows given one by one with addRow.
    explicit TextTable(std::vector<Column> columns);
    void addRow(std::vector<std::string> cells);
    TextTable(const TextTable&) = delete;
    TextTable& operator=(const TextTable&) = delete;

    void print(std::ostream& out, const TableFormat& format = TableFormat()) const;

private:
    std::vector<Column> columns;
    std::size_t rowCount = 0;
    Rows rows;
    std::vector<std::vector<std::string>> kept;
};

} // namespace tool
} // namespace okr

#endif
