#ifndef OKR_TOOL_JSONWRITER_H
#define OKR_TOOL_JSONWRITER_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace okr {
namespace tool {

// How many bytes of the character at text[at] the tool writes as a JSON
// escape (a control character, a quote, a backslash, C1, U+2028, U+2029);
// 0 for none.
std::size_t escapedLength(const std::string& text, std::size_t at);
// The character of length bytes (2 or 3) at text[at] as "\\uXXXX".
void appendUnicodeEscape(std::string& out, const std::string& text, std::size_t at, std::size_t length);

// Writes JSON as it goes, indented by two spaces as printJson does, without
// building a document first: list prints every object of a folder that may
// hold a hundred thousand. Strings must be UTF-8 (see jsonText).
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out);
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void beginArray();
    void endArray();
    void beginObject();
    void endObject();
    void key(const char* name);
    void string(const std::string& text);
    void number(std::int64_t value);
    void number(std::uint64_t value);
    void boolean(bool value);
    void null();
    // Ends the document with a line end and writes what is still held.
    void finish();

private:
    void beforeValue();
    void quote(const std::string& value);
    void open(char bracket);
    void close(char bracket);
    void indent();
    void spill(bool always);

    struct Level {
        bool object;
        std::size_t items;
    };

    std::ostream& out;
    std::string text;
    std::string lineStart; // a line end and the indentation of the deepest level yet
    std::vector<Level> levels;
    bool afterKey = false;
};

} // namespace tool
} // namespace okr

#endif
