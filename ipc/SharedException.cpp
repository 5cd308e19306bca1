#include "SharedException.h"

namespace okr {
namespace ipc {

SharedException::SharedException(const char* text) noexcept : message(text) {}

// Out of line so the vtable has one home.
SharedException::~SharedException() = default;

const char* SharedException::what() const noexcept { return message; }

} // namespace ipc
} // namespace okr
