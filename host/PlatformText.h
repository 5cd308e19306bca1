#ifndef OKR_HOST_PLATFORMTEXT_H
#define OKR_HOST_PLATFORMTEXT_H

#include <string>

namespace okr {
namespace host {

// Re-encodes narrow text as the platform's narrow calls give it (file and
// account names: the ANSI code page on Windows, bytes taken as UTF-8
// elsewhere) into UTF-8.
std::string platformTextToUtf8(const std::string& text);

} // namespace host
} // namespace okr

#endif
