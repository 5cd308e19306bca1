#include "JsonWriter.h"

namespace okr {
namespace tool {

namespace {

constexpr std::size_t spillAt = 1 << 16;

} // namespace

JsonWriter::JsonWriter(std::ostream& stream) : out(stream) {}

void JsonWriter::finish()
{
    text += '\n';
    spill(true);
}

void JsonWriter::indent() { text.append(2 * levels.size(), ' '); }

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
        text += levels.back().items++ == 0 ? "\n" : ",\n";
        indent();
    }
}

void JsonWriter::open(char bracket)
{
    beforeValue();
    text += bracket;
    levels.push_back({bracket == '{', 0});
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
    quote(name);
    text += ": ";
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
    for (const char c : value) {
        switch (c) {
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        case '\b': text += "\\b"; break;
        case '\f': text += "\\f"; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                text += "\\u00";
                text += hex[(c >> 4) & 0xF];
                text += hex[c & 0xF];
            } else {
                text += c;
            }
        }
    }
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
