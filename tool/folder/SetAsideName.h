#ifndef OKR_TOOL_SETASIDENAME_H
#define OKR_TOOL_SETASIDENAME_H

#include <string>

namespace okr {
namespace tool {

// Where earlier versions of clean moved an object aside while they decided
// (POSIX): a hidden name ".okr-shm-", 16 random hex digits, "-" and the
// object's own name. A clean killed in between left objects there; list
// shows them and clean removes those nobody uses. Nothing is set aside any
// more, and Windows never did.
bool isSetAsideName(const std::string& name);

// The okr-* or unpublished name the object had before it was set aside under name; empty
// when name does not say (a leftover of an earlier version of the tool).
std::string setAsideFrom(const std::string& name);

} // namespace tool
} // namespace okr

#endif
