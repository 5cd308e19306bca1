#ifndef OKR_HOST_PLATFORMTEXT_H
#define OKR_HOST_PLATFORMTEXT_H

#include <string>

namespace okr {
namespace host {

// Re-encodes narrow text as the platform's narrow calls give it (file and
// account names: the ANSI code page on Windows, bytes taken as UTF-8
// elsewhere) into UTF-8.
std::string platformTextToUtf8(const std::string& text);

// UTF-8 text as the platform's narrow calls would give it, again as UTF-8:
// on Windows through the ANSI code page, best-fit ("Ωmega" comes back as
// "Omega" under code page 1252), as GetUserNameA gives a login name to the
// process that hashes it; elsewhere unchanged.
std::string utf8AsNarrowCallsGiveIt(const std::string& utf8);

} // namespace host
} // namespace okr

#endif
