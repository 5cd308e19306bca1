#include "tool/output/JsonWriter.h"

namespace okr {
namespace tool {

namespace {

constexpr std::size_t spillAt = 1 << 16;

} // namespace

JsonWriter::JsonWriter(std::ostream& stream) : out(stream), lineStart("\n") {}

void JsonWriter::finish()
{
    text += '\n';
    spill(true);
}

void JsonWriter::indent() { text.append(lineStart, 1, 2 * levels.size()); }

void JsonWriter::spill(bool always)
{
    if (always || text.size() >= spillAt) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    }
}

void JsonWriter::beforeValue()
{
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!levels.empty()) {
        if (levels.back().items++ > 0) {
            text += ',';
        }
        text.append(lineStart, 0, 1 + 2 * levels.size());
    }
}

void JsonWriter::open(char bracket)
{
    beforeValue();
    text += bracket;
    levels.push_back({bracket == '{', 0});
    lineStart.resize(1 + 2 * levels.size(), ' ');
}

void JsonWriter::close(char bracket)
{
    const bool empty = levels.back().items == 0;
    levels.pop_back();
    if (!empty) {
        text += '\n';
        indent();
    }
    text += bracket;
    spill(false);
}

void JsonWriter::beginArray() { open('['); }
void JsonWriter::endArray() { close(']'); }
void JsonWriter::beginObject() { open('{'); }
void JsonWriter::endObject() { close('}'); }

void JsonWriter::key(const char* name)
{
    beforeValue();
    text += '"';
    text += name; // the tool's own keys, which need no escapes
    text += "\": ";
    afterKey = true;
}

void JsonWriter::string(const std::string& value)
{
    beforeValue();
    quote(value);
}

void JsonWriter::quote(const std::string& value)
{
    text += '"';
    std::size_t plain = 0; // the start of a run that needs no escape
    for (std::size_t at = 0; at < value.size(); ++at) {
        const auto c = static_cast<unsigned char>(value[at]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        text.append(value, plain, at - plain);
        plain = at + 1;
        switch (c) {
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        case '\b': text += "\\b"; break;
        case '\f': text += "\\f"; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            static const char hex[] = "0123456789abcdef";
            text += "\\u00";
            text += hex[(c >> 4) & 0xF];
            text += hex[c & 0xF];
        }
    }
    text.append(value, plain, value.size() - plain);
    text += '"';
}

void JsonWriter::number(std::int64_t value)
{
    beforeValue();
    text += std::to_string(value);
}

void JsonWriter::number(std::uint64_t value)
{
    beforeValue();
    text += std::to_string(value);
}

void JsonWriter::boolean(bool value)
{
    beforeValue();
    text += value ? "true" : "false";
}

void JsonWriter::null()
{
    beforeValue();
    text += "null";
}

} // namespace tool
} // namespace okr
