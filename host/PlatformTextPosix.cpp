#include "PlatformText.h"

namespace okr {
namespace host {

// File and user names here are bytes that the system already treats as UTF-8.
std::string platformTextToUtf8(const std::string& text) { return text; }

std::string utf8AsNarrowCallsGiveIt(const std::string& utf8) { return utf8; }

} // namespace host
} // namespace okr
