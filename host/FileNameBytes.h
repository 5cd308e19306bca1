#ifndef OKR_HOST_FILENAMEBYTES_H
#define OKR_HOST_FILENAMEBYTES_H

#include <wx/strconv.h>

namespace okr {
namespace host {

// Converts between file names as the platform stores them (narrow bytes in
// the system's encoding) and wxString, exactly both ways, and makes wxDir
// use the same conversion.
wxMBConv& fileNameBytes();

} // namespace host
} // namespace okr

#endif
