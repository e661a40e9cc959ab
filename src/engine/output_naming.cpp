#include "output_naming.h"

#include "base/text.h"

#include <algorithm>
#include <cctype>

namespace engine {

std::string MethodSuffix(int32_t methodIndex, int32_t method, int32_t strengthPosition, int32_t strengthMaximum)
{
    const std::string strength =
        strengthPosition >= strengthMaximum ? "100" : std::to_string(5 * strengthPosition + 5);
    if (methodIndex == 0)
        return "-M";
    switch (method) {
    case 1:
        return "-M-RAW-R" + strength;
    case 2:
        return "-M-RAW-B" + strength;
    case 3:
        return "-M-RGB-R" + strength;
    case 4:
        return "-M-RGB-G" + strength;
    case 5:
        return "-M-RGB-B" + strength;
    default:
        return "";
    }
}

std::string ResultFileName(const std::string& sourceName, int32_t methodIndex, int32_t method,
                           int32_t strengthPosition, int32_t strengthMaximum)
{
    const std::string suffix = MethodSuffix(methodIndex, method, strengthPosition, strengthMaximum);
    if (!HasDngExtension(sourceName))
        return sourceName + suffix + ".dng";
    return InsertBeforeExtension(sourceName, suffix);
}

bool HasDngExtension(const std::string& name)
{
    return name.size() >= 4 && base::EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".dng");
}

std::string InsertBeforeExtension(const std::string& name, const std::string& text)
{
    const size_t at = name.size() >= 4 ? name.size() - 4 : 0;
    return name.substr(0, at) + text + name.substr(at);
}

std::string FirstFreeName(const std::string& name, const std::function<bool(const std::string&)>& exists)
{
    std::string candidate = name;
    for (uint64_t n = 2; exists(candidate); ++n)
        candidate = InsertBeforeExtension(name, "-" + std::to_string(n));
    return candidate;
}

} // namespace engine
