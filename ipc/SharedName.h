#ifndef OKR_IPC_SHAREDNAME_H
#define OKR_IPC_SHAREDNAME_H

#include <string>

namespace okr {
namespace ipc {

// True for a name that stays inside the platform's shared folder. On Windows
// every block is the file <folder>/<name>, so a name that is empty, "." or
// "..", or that carries a path separator, would reach files outside it.
bool isValidSharedName(const std::string& name) noexcept;

} // namespace ipc
} // namespace okr

#endif
