#ifndef OKR_TOOL_TEXTTABLE_H
#define OKR_TOOL_TEXTTABLE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace okr {
namespace tool {

struct TableFormat {
    bool headings = true;
    // One space between fields and no padding, every field quoted as a name
    // is, so that a script can split a line at its spaces.
    bool raw = false;
};

// One row's cells, written one after another into a buffer that is reused
// row after row: a table of a hundred thousand rows makes no string per cell,
// and a cell costs a copy of its bytes.
class TableRow {
public:
    void clear()
    {
        used = 0;
        ends.clear();
    }
    void add(std::string_view cell)
    {
        append(cell);
        endCell();
    }
    void add(std::uint64_t number);
    // A cell written in pieces: append, then end the cell.
    void append(std::string_view piece)
    {
        if (piece.size() > room - used) {
            grow(piece.size());
        }
        std::copy(piece.begin(), piece.end(), bytes.get() + used);
        used += piece.size();
    }
    void appendNumber(std::uint64_t number);
    void endCell() { ends.push_back(used); }

    std::size_t size() const { return ends.size(); }
    // Whether every cell is ASCII.
    bool isAscii() const;
    std::string_view operator[](std::size_t index) const
    {
        if (index >= ends.size()) {
            return {}; // a row with fewer cells than columns leaves the rest empty
        }
        const std::size_t start = index == 0 ? 0 : ends[index - 1];
        return std::string_view(bytes.get() + start, ends[index] - start);
    }

private:
    void grow(std::size_t more);

    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
    std::size_t room = 0;
    std::vector<std::size_t> ends;
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
    // Writes the cells of row index (one per column, in their order) into
    // row, which comes empty.
    using Rows = std::function<void(std::size_t index, TableRow& row)>;

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
