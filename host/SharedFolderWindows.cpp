#include "FileNameBytes.h"
#include "SharedFolder.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>

namespace okr {
namespace host {

// Asks Boost's own folder routine, the one that also places the blocks, so
// the printed folder is always the one that holds them.
std::string sharedFolder()
{
    std::string folder;
    boost::interprocess::ipcdetail::get_shared_dir(folder);
    return folder;
}

// Names and folders are in the system's ANSI code page.
wxMBConv& fileNameBytes() { return wxConvLibc; }

} // namespace host
} // namespace okr
