#include "FileNameBytes.h"
#include "SharedFolder.h"
#include "ShellQuoting.h"

#include <wx/dir.h>
#include <wx/string.h>

#include <iostream>

namespace okr {
namespace host {

bool forEachSharedFile(const std::string& folder, const std::string& pattern,
                       const std::function<void(const std::string&)>& visit)
{
    const wxMBConv& bytes = fileNameBytes();
    const wxString dirName(folder.c_str(), bytes);
    const wxString filter(pattern.c_str(), bytes);

    wxDir dir(dirName);
    if (!dir.IsOpened()) {
        return false;
    }
    wxString name;
    for (bool more = dir.GetFirst(&name, filter, wxDIR_FILES); more; more = dir.GetNext(&name)) {
        const wxScopedCharBuffer converted = name.mb_str(bytes);
        visit(converted.data() != nullptr ? std::string(converted.data(), converted.length()) : std::string());
    }
    return true;
}

void listSharedFiles(const std::string& folder, const std::string& pattern)
{
    forEachSharedFile(folder, pattern, [](const std::string& name) { std::cout << listedName(name) << std::endl; });
}

} // namespace host
} // namespace okr
