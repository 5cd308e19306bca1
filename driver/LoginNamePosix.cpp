#include "LoginName.h"

#include <wx/string.h>
#include <wx/utils.h>

namespace okr {
namespace driver {

std::string loginNameUtf8() { return std::string(wxGetUserId().ToUTF8().data()); }

} // namespace driver
} // namespace okr
