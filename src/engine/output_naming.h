// Names of written results: the source's name with the method's suffix in front of its
// extension, and the counter that keeps plug-in results from replacing each other.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

// The suffix for the method list index, the method code and the strength slider position: "-M"
// for "Regular"; "-M-RAW-R", "-M-RAW-B", "-M-RGB-R", "-M-RGB-G", "-M-RGB-B" followed by the
// strength in percent (5 x position + 5, or 100 at the top position).
std::string MethodSuffix(int32_t methodIndex, int32_t method, int32_t strengthPosition, int32_t strengthMaximum);

// The name of the result of the photo `sourceName` (a file name without folder): the method's
// suffix in front of its ".dng"; a name without ".dng" gets the suffix and ".dng" at its end.
std::string ResultFileName(const std::string& sourceName, int32_t methodIndex, int32_t method,
                           int32_t strengthPosition, int32_t strengthMaximum);

// True when the name ends in ".dng" in any letter case.
bool HasDngExtension(const std::string& name);

// The name with text inserted in front of its last four characters (the extension keeps its case).
std::string InsertBeforeExtension(const std::string& name, const std::string& text);

// The first of name, name-2, name-3 ... (counter in front of the extension) that does not exist.
std::string FirstFreeName(const std::string& name, const std::function<bool(const std::string&)>& exists);

} // namespace engine
