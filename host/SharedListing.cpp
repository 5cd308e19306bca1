#include "FileNameBytes.h"
#include "SharedFolder.h"

#include <wx/dir.h>
#include <wx/string.h>

#include <iostream>

namespace okr {
namespace host {

void listSharedFiles(const std::string& folder, const std::string& pattern)
{
    const wxMBConv& bytes = fileNameBytes();
    const wxString dirName(folder.c_str(), bytes);
    const wxString filter(pattern.c_str(), bytes);

    wxDir dir(dirName);
    if (!dir.IsOpened()) {
        return;
    }
    wxString name;
    for (bool more = dir.GetFirst(&name, filter, wxDIR_FILES); more; more = dir.GetNext(&name)) {
        std::cout << static_cast<const char*>(name.mb_str(bytes)) << std::endl;
    }
}

} // namespace host
} // namespace okr
