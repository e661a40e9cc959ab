#include "ui/logic/update_text.h"

namespace ui {

std::string UpdateTextFromBytes(std::string_view received)
{
    std::string_view text = received.substr(0, kUpdateReadLimit);
    if (const size_t zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);
    return std::string(text);
}

UpdateOutcome ClassifyUpdateText(std::string_view text, std::string_view ownVersion)
{
    if (text.empty())
        return UpdateOutcome::kNothing;
    if (text == ownVersion)
        return UpdateOutcome::kUpToDate;
    return text.size() < 7 ? UpdateOutcome::kNewVersion : UpdateOutcome::kLacking;
}

std::string UpdateMessage(UpdateOutcome outcome, std::string_view text)
{
    switch (outcome) {
    case UpdateOutcome::kNothing: return {};
    case UpdateOutcome::kUpToDate: return "No update of Velloray is available.\n\nYou are using the latest version.";
    case UpdateOutcome::kNewVersion:
        return "A new version (" + std::string(text) +
               ") of Velloray is available.\n\nDo you want to download it now?";
    case UpdateOutcome::kLacking:
        return "Cannot check for updates...\n\nThe right information seems to be lacking on the update server.\n\n"
               "Please try again later.";
    case UpdateOutcome::kUnreachable:
        return "Cannot check for updates...\n\nYou might be disconnected from the Internet or the update server "
               "might be down.\n\nPlease try again later.";
    }
    return {};
}

} // namespace ui
