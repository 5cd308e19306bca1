#include "TextTable.h"

#include <algorithm>
#include <utility>

namespace okr {
namespace tool {

namespace {

// Characters, not bytes, for UTF-8 text: continuation bytes take no room.
std::size_t widthOf(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

TextTable::TextTable(std::vector<Column> columnList) : columns(std::move(columnList)) {}

void TextTable::addRow(std::vector<std::string> cells)
{
    cells.resize(columns.size());
    rows.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out) const
{
    std::vector<std::size_t> widths;
    for (const Column& column : columns) {
        widths.push_back(widthOf(column.title));
    }
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], widthOf(row[i]));
        }
    }
    const auto printLine = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::string padding(widths[i] - widthOf(cells[i]), ' ');
            const bool last = i + 1 == cells.size();
            line += columns[i].alignRight ? padding + cells[i] : cells[i] + (last ? "" : padding);
            if (!last) {
                line += "  ";
            }
        }
        out << line << '\n';
    };
    std::vector<std::string> titles;
    for (const Column& column : columns) {
        titles.push_back(column.title);
    }
    printLine(titles);
    for (const auto& row : rows) {
        printLine(row);
    }
    out.flush();
}

} // namespace tool
} // namespace okr
