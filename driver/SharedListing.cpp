#include "SharedFolder.h"

#include <wx/dir.h>
#include <wx/string.h>

#include <iostream>

namespace okr {
namespace driver {

void listSharedFiles(const std::string& folder, const std::string& pattern)
{
    // File-name conversion keeps the bytes as the file system has them.
    const wxString dirName(folder.c_str(), *wxConvFileName);
    const wxString filter(pattern.c_str(), *wxConvFileName);

    wxDir dir(dirName);
    if (!dir.IsOpened()) {
        return;
    }
    wxString name;
    for (bool more = dir.GetFirst(&name, filter, wxDIR_FILES); more; more = dir.GetNext(&name)) {
        std::cout << static_cast<const char*>(name.mb_str(*wxConvFileName)) << std::endl;
    }
}

} // namespace driver
} // namespace okr
