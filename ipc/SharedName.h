#ifndef OKR_IPC_SHAREDNAME_H
#define OKR_IPC_SHAREDNAME_H

#include "Export.h"

#include <string>

namespace okr {
namespace ipc {

// True for a name that means one and the same file inside the platform's
// shared folder. On Windows every block is the file <folder>/<name>: a name
// that is empty, "." or "..", or that carries a path separator, would reach
// files outside it; a trailing "." or " " is dropped (two names, one file);
// ":" opens a stream of another file; CON, NUL, COM1, COM¹ and their kin are
// devices; < > " | ? * and control characters are no file name at all. The
// rule holds on every platform, so a name means the same object everywhere.
// Letter case is the one difference left: names that differ only in case
// are one block on Windows and two on Linux, so a product should not rely
// on case to tell its names apart.
OKR_API bool isValidSharedName(const std::string& name) noexcept;

} // namespace ipc
} // namespace okr

#endif
