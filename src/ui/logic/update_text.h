// What the update check makes of the server's answer, without widgets or network.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ui {

enum class UpdateOutcome {
    kNothing,      // an empty document: no message at all
    kUpToDate,     // exactly the own version
    kNewVersion,   // any other text shorter than 7 characters (also an older version)
    kLacking,      // 7 characters or more: not a version number
    kUnreachable,  // no answer, a failed transfer or an HTTP status other than success
};

// The most the check reads of the version document.
constexpr size_t kUpdateReadLimit = 512;

// The version text: the bytes received, at most kUpdateReadLimit, up to the first zero byte.
// Nothing is trimmed; a line end counts as characters.
std::string UpdateTextFromBytes(std::string_view received);

// The outcome for a version text that arrived with a success status.
UpdateOutcome ClassifyUpdateText(std::string_view text, std::string_view ownVersion);

// The message shown for an outcome (empty for kNothing); the text appears in the new-version
// question between parentheses.
std::string UpdateMessage(UpdateOutcome outcome, std::string_view text);

} // namespace ui
