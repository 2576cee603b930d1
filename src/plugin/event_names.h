// The host event names of resources and LCDS message classes, and the
// matching of resource paths against observer patterns.
#pragma once

#include <string>
#include <string_view>

namespace Tesk {

// "OnJsonApiEvent" and the uri's non-empty segments joined by "_", at most
// four entries (six under "tav-platform-config"): "/tav-login/v1/session"
// gives "OnJsonApiEvent_tav-login_v1_session".
[[nodiscard]] std::string EventNameForResource(std::string_view uri);

// "OnLcdsEvent_" and the class name with "." written "_".
[[nodiscard]] std::string EventNameForLcdsType(std::string_view typeName);

// Whether `pattern` matches the whole of `path`: "*" takes the run of
// characters up to the next "/" (empty before a "/"; at the end of the path it
// needs at least one character), without backtracking.
[[nodiscard]] bool ResourcePatternMatches(std::string_view pattern, std::string_view path);

}  // namespace Tesk
