#include "tool/output/TextTable.h"

#include "tool/output/PrintedName.h"
#include "tool/output/TerminalText.h"

#include <algorithm>
#include <utility>

namespace okr {
namespace tool {

namespace {

std::size_t widthOf(const std::string& text)
{
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? text.size() : displayWidth(text);
}

// Written in large blocks, not line by line.
void spill(std::ostream& out, std::string& text, bool always)
{
    if (always || text.size() >= (1u << 16)) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    }
}

} // namespace

TextTable::TextTable(std::vector<Column> columnList, std::size_t count, Rows source)
    : columns(std::move(columnList)), rowCount(count), rows(std::move(source))
{
}

TextTable::TextTable(std::vector<Column> columnList) : columns(std::move(columnList))
{
    rows = [this](std::size_t index, std::vector<std::string>& cells) { cells = kept[index]; };
}

void TextTable::addRow(std::vector<std::string> cells)
{
    kept.push_back(std::move(cells));
    rowCount = kept.size();
}

void TextTable::print(std::ostream& out, const TableFormat& format) const
{
    const std::size_t width = columns.size();
    std::vector<std::string> cells;
    // A row's cells as printed, without padding.
    const auto fill = [&](std::size_t index) {
        cells.resize(width);
        rows(index, cells);
        cells.resize(width);
        for (std::size_t i = 0; i < width; ++i) {
            if (columns[i].name || format.raw) {
                cells[i] = printedName(cells[i]);
            }
        }
    };
    std::string text;
    if (format.raw) {
        const auto line = [&text](const std::vector<std::string>& fields) {
            for (std::size_t i = 0; i < fields.size(); ++i) {
                text += i == 0 ? "" : " ";
                text += fields[i];
            }
            text += '\n';
        };
        if (format.headings) {
            cells.clear();
            for (const Column& column : columns) {
                cells.push_back(printedName(column.title));
            }
            line(cells);
        }
        for (std::size_t index = 0; index < rowCount; ++index) {
            fill(index);
            line(cells);
            spill(out, text, false);
        }
        spill(out, text, true);
        out.flush();
        return;
    }

    std::vector<std::size_t> widths(width, 0);
    if (format.headings) {
        for (std::size_t i = 0; i < width; ++i) {
            widths[i] = widthOf(columns[i].title);
        }
    }
    for (std::size_t index = 0; index < rowCount; ++index) {
        fill(index);
        for (std::size_t i = 0; i < width; ++i) {
            widths[i] = std::max(widths[i], widthOf(cells[i]));
        }
    }
    // Each line is laid out in place at the end of text: its length first,
    // then every field copied once.
    std::vector<std::size_t> padding(width);
    const auto line = [&](const std::vector<std::string>& fields) {
        if (width == 0) {
            text += '\n';
            return;
        }
        std::size_t length = 0;
        for (std::size_t i = 0; i < width; ++i) {
            padding[i] = i + 1 == width && !columns[i].alignRight ? 0 : widths[i] - widthOf(fields[i]);
            length += fields[i].size() + padding[i] + 2;
        }
        std::size_t at = text.size();
        text.resize(at + length - 1);
        char* buffer = &text[0];
        for (std::size_t i = 0; i < width; ++i) {
            if (columns[i].alignRight) {
                std::fill_n(buffer + at, padding[i], ' ');
                at += padding[i];
            }
            std::copy(fields[i].begin(), fields[i].end(), buffer + at);
            at += fields[i].size();
            if (!columns[i].alignRight) {
                std::fill_n(buffer + at, padding[i], ' ');
                at += padding[i];
            }
            if (i + 1 < width) {
                buffer[at++] = ' ';
                buffer[at++] = ' ';
            } else {
                buffer[at++] = '\n';
            }
        }
    };
    if (format.headings) {
        cells.clear();
        for (const Column& column : columns) {
            cells.push_back(column.title);
        }
        line(cells);
    }
    for (std::size_t index = 0; index < rowCount; ++index) {
        fill(index);
        line(cells);
        spill(out, text, false);
    }
    spill(out, text, true);
    out.flush();
}

} // namespace tool
} // namespace okr
