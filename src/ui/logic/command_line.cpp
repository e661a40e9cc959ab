#include "ui/logic/command_line.h"

#include <algorithm>

namespace ui {

std::string JoinArguments(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments) {
        if (&argument != &arguments.front()) line += ' ';
        line += argument;
    }
    return line;
}

StartRequest ParseCommandLine(std::string_view line)
{
    if (!line.empty() && line.back() == '"') line.remove_suffix(1);
    if (!line.empty() && line.front() == '"') line.remove_prefix(1);
    StartRequest request;
    const std::size_t hash = line.find('#');
    if (hash == std::string_view::npos || line.substr(0, hash) != "-lrpluginmode") return request;

    request.pluginMode = true;
    request.photoPath = std::string(line.substr(hash + 1));
    std::string ending = request.photoPath.substr(request.photoPath.size() - std::min<std::size_t>(3, request.photoPath.size()));
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    request.askWrongFormat = ending != "dng";
    return request;
}

} // namespace ui
