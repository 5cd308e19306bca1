#include "tool/output/JsonOutput.h"

#include "tool/output/JsonWriter.h"
#include "tool/output/PrintedName.h"

namespace okr {
namespace tool {

// As JsonWriter writes them, C1 and U+2028/U+2029 become \u escapes; in a
// document they can only stand inside strings.
void printJson(const nlohmann::json& value, std::ostream& out)
{
    const std::string document = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string text;
    text.reserve(document.size() + 1);
    for (std::size_t at = 0; at < document.size(); ++at) {
        const std::size_t escaped = escapedLength(document, at);
        if (escaped < 2) {
            text += document[at];
            continue;
        }
        appendUnicodeEscape(text, document, at, escaped);
        at += escaped - 1;
    }
    out << text << '\n';
}

std::string jsonText(const std::string& text) { return isExactUtf8(text) ? text : printedName(text); }

} // namespace tool
} // namespace okr
