// Whether two paths name the same file.
#pragma once

#include <filesystem>

namespace base {

// True when both name one existing file (links, "." and "..", other spellings), or, for a path
// that does not exist yet, when both resolve to the same place.
bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace base
