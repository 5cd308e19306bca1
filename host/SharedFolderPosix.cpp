#include "FileNameBytes.h"
#include "SharedFolder.h"

namespace okr {
namespace host {

// Boost.Interprocess uses POSIX shared memory here, whose names glibc keeps
// as files in this folder.
std::string sharedFolder() { return "/dev/shm"; }

std::string sharedFolderWithoutCreating() { return sharedFolder(); }

wxMBConv& fileNameBytes()
{
    // wxWidgets' default guesses an encoding name by name and cannot give
    // back bytes that are not UTF-8; this one maps such bytes to private-use
    // characters and back.
    static wxMBConvUTF8 exact(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA);
    wxConvFileName = &exact;
    return exact;
}

} // namespace host
} // namespace okr
