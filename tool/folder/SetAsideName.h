#ifndef OKR_TOOL_SETASIDENAME_H
#define OKR_TOOL_SETASIDENAME_H

#include <string>

namespace okr {
namespace tool {

// Where clean moves an object aside while it decides (POSIX): a hidden name
// ".okr-shm-", 16 random hex digits, "-" and the object's own name, so that
// a clean killed in between leaves objects that a later one knows by their
// names alone. Windows never sets an object aside.
bool isSetAsideName(const std::string& name);

// The okr-* or unpublished name the object had before it was set aside under name; empty
// when name does not say (a leftover of an earlier version of the tool).
std::string setAsideFrom(const std::string& name);

// A set-aside name for name, its random part from the system's generator:
// nobody can know it before the object is moved there. False with errno when
// there is no randomness to be had. POSIX only.
bool newSetAsideName(const std::string& name, std::string& hidden);

} // namespace tool
} // namespace okr

#endif
