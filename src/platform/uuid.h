// Random (version 4) UUIDs in their text form: 36 characters, lower-case hexadecimal digits in
// groups of 8, 4, 4, 4 and 12 joined by hyphens.
#pragma once

#include <string>

namespace platform {

std::string NewUuidText();

} // namespace platform
