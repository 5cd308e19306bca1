#ifndef OKR_IPC_BOOSTSHAREDDIR_H
#define OKR_IPC_BOOSTSHAREDDIR_H

#include <string>

namespace okr {
namespace ipc {

// The folder that get_shared_dir gives Boost.Interprocess on Windows, in the
// ANSI code page, composed without creating it or its parent: for those who
// only look at the folder. Empty when no root can be found.
std::string composedSharedDir();

} // namespace ipc
} // namespace okr

#endif
