#include "tool/output/TextTable.h"

#include "tool/output/PrintedName.h"
#include "tool/output/TerminalText.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

namespace okr {
namespace tool {

void TableRow::add(std::uint64_t number)
{
    appendNumber(number);
    endCell();
}

void TableRow::appendNumber(std::uint64_t number)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    append(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
}

void TableRow::grow(std::size_t more)
{
    room = std::max(2 * room, used + more + 256);
    std::unique_ptr<char[]> larger(new char[room]);
    std::copy(bytes.get(), bytes.get() + used, larger.get());
    bytes = std::move(larger);
}

bool TableRow::isAscii() const
{
    // Eight bytes at a time: this is looked at twice for every row.
    std::uint64_t bits = 0;
    std::size_t at = 0;
    for (; at + 8 <= used; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.get() + at, 8);
        bits |= word;
    }
    for (; at < used; ++at) {
        bits |= static_cast<unsigned char>(bytes[at]);
    }
    return (bits & 0x8080808080808080U) == 0;
}

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::size_t widthOf(std::string_view text) { return isAscii(text) ? text.size() : displayWidth(std::string(text)); }

// Lines gathered and written in large blocks, not line by line. A line is
// laid out in room taken at the end, which is never cleared first.
class LineBuffer {
public:
    explicit LineBuffer(std::ostream& stream) : out(stream) {}

    char* take(std::size_t length)
    {
        if (length > room - used) {
            flush();
            if (length > room) {
                room = std::max(length, block);
                bytes.reset(new char[room]);
            }
        }
        char* at = bytes.get() + used;
        used += length;
        return at;
    }
    void flush()
    {
        if (used > 0) {
            out.write(bytes.get(), static_cast<std::streamsize>(used));
        }
        used = 0;
    }

private:
    static constexpr std::size_t block = 1u << 16;
    std::ostream& out;
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
    std::size_t room = 0;
};

// A row's cells as printed, and their widths on a terminal: a name quoted
// where it needs quotes (rarely, so into a string of its own only then).
class PrintedRow {
public:
    PrintedRow(const std::vector<TextTable::Column>& columns, bool raw)
        : quoted(columns.size()), cells(columns.size()), widths(columns.size())
    {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].name || raw) {
                names.push_back(i);
            }
        }
    }

    void of(const TableRow& row)
    {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            cells[i] = row[i];
        }
        // Most rows are ASCII throughout: then a width is a length.
        bool ascii = row.isAscii();
        for (std::size_t i : names) {
            if (!printsAsItIs(cells[i])) {
                quoted[i] = printedName(std::string(cells[i]));
                cells[i] = quoted[i];
                ascii = ascii && isAscii(cells[i]);
            }
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            widths[i] = ascii ? cells[i].size() : widthOf(cells[i]);
        }
    }

    std::vector<std::size_t> names; // the columns printed quoted
    std::vector<std::string> quoted;
    std::vector<std::string_view> cells;
    std::vector<std::size_t> widths;
};

} // namespace

TextTable::TextTable(std::vector<Column> columnList, std::size_t count, Rows source)
    : columns(std::move(columnList)), rowCount(count), rows(std::move(source))
{
}

TextTable::TextTable(std::vector<Column> columnList) : columns(std::move(columnList))
{
    rows = [this](std::size_t index, TableRow& row) {
        for (const std::string& cell : kept[index]) {
            row.add(cell);
        }
    };
}

void TextTable::addRow(std::vector<std::string> cells)
{
    kept.push_back(std::move(cells));
    rowCount = kept.size();
}

void TextTable::print(std::ostream& out, const TableFormat& format) const
{
    const std::size_t width = columns.size();
    TableRow row;
    PrintedRow printed(columns, format.raw);
    const auto fill = [&](std::size_t index) {
        row.clear();
        rows(index, row);
        printed.of(row);
    };
    // The titles as a row, quoted only where every field is (raw).
    const auto titles = [&]() {
        row.clear();
        for (const Column& column : columns) {
            row.add(column.title);
        }
        printed.of(row);
        for (std::size_t i = 0; !format.raw && i < width; ++i) {
            printed.cells[i] = columns[i].title;
            printed.widths[i] = widthOf(columns[i].title);
        }
    };
    std::vector<std::size_t> widths(width, 0);
    if (!format.raw) {
        if (format.headings) {
            titles();
            widths = printed.widths;
        }
        for (std::size_t index = 0; index < rowCount; ++index) {
            fill(index);
            for (std::size_t i = 0; i < width; ++i) {
                widths[i] = std::max(widths[i], printed.widths[i]);
            }
        }
    }
    // Each line is laid out in place: its length first, then spaces over
    // all of it, then every field copied once. Raw lines have one space
    // between fields and no padding.
    LineBuffer text(out);
    std::vector<std::size_t> padding(width);
    const std::size_t gap = format.raw ? 1 : 2;
    const auto line = [&]() {
        const std::vector<std::string_view>& fields = printed.cells;
        std::size_t length = width == 0 ? 1 : 0;
        for (std::size_t i = 0; i < width; ++i) {
            const bool last = i + 1 == width;
            padding[i] = format.raw || (last && !columns[i].alignRight) ? 0 : widths[i] - printed.widths[i];
            length += fields[i].size() + padding[i] + (last ? 1 : gap);
        }
        char* const start = text.take(length);
        std::memset(start, ' ', length);
        char* at = start;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t before = columns[i].alignRight ? padding[i] : 0;
            std::copy(fields[i].begin(), fields[i].end(), at + before);
            at += padding[i] + fields[i].size() + gap;
        }
        start[length - 1] = '\n';
    };
    if (format.headings) {
        titles();
        line();
    }
    for (std::size_t index = 0; index < rowCount; ++index) {
        fill(index);
        line();
    }
    text.flush();
    out.flush();
}

} // namespace tool
} // namespace okr
