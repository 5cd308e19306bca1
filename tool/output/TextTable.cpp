#include "tool/output/TextTable.h"

#include "tool/output/PrintedName.h"
#include "tool/output/TerminalText.h"

#include <algorithm>
#include <utility>

namespace okr {
namespace tool {

TextTable::TextTable(std::vector<Column> columnList) : columns(std::move(columnList)) {}

void TextTable::addRow(std::vector<std::string> cells)
{
    cells.resize(columns.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (columns[i].name) {
            cells[i] = printedName(cells[i]);
        }
    }
    rows.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out, const TableFormat& format) const
{
    std::vector<std::string> titles;
    for (const Column& column : columns) {
        titles.push_back(column.title);
    }
    std::string line;
    if (format.raw) {
        const auto printLine = [&](const std::vector<std::string>& cells, bool names) {
            line.clear();
            for (std::size_t i = 0; i < cells.size(); ++i) {
                line += i == 0 ? "" : " ";
                // A name cell is printed already.
                line += names && columns[i].name ? cells[i] : printedName(cells[i]);
            }
            out << line << '\n';
        };
        if (format.headings) {
            printLine(titles, false);
        }
        for (const auto& row : rows) {
            printLine(row, true);
        }
        out.flush();
        return;
    }

    std::vector<std::size_t> widths(columns.size(), 0);
    std::vector<std::size_t> cellWidths; // row by row, measured once
    cellWidths.reserve((rows.size() + 1) * columns.size());
    const auto measure = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            cellWidths.push_back(displayWidth(cells[i]));
            widths[i] = std::max(widths[i], cellWidths.back());
        }
    };
    if (format.headings) {
        measure(titles);
    }
    for (const auto& row : rows) {
        measure(row);
    }
    std::size_t measured = 0;
    const auto printLine = [&](const std::vector<std::string>& cells) {
        line.clear();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::size_t padding = widths[i] - cellWidths[measured++];
            const bool last = i + 1 == cells.size();
            if (columns[i].alignRight) {
                line.append(padding, ' ');
                line += cells[i];
            } else {
                line += cells[i];
                line.append(last ? 0 : padding, ' ');
            }
            line += last ? "" : "  ";
        }
        out << line << '\n';
    };
    if (format.headings) {
        printLine(titles);
    }
    for (const auto& row : rows) {
        printLine(row);
    }
    out.flush();
}

} // namespace tool
} // namespace okr
