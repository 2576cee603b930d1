// The names under which the host routes events. Resource changes travel under
// a name derived from the resource's URI, LCDS messages under one derived from
// their class name; each is also sent under its general name.
#pragma once

#include <string>
#include <string_view>

namespace Tesk::DevHost {

inline constexpr char kResourceEventName[] = "OnJsonApiEvent";
inline constexpr char kLcdsEventName[] = "OnLcdsEvent";
// The host's own events to its clients (never to the plug-in): a watched
// plug-in library was loaded again ({"path", "plugin", "version",
// "functions"}), or failed to ({"path", "error"}).
inline constexpr char kPluginReloadedEventName[] = "OnHostPluginReloaded";
inline constexpr char kPluginReloadFailedEventName[] = "OnHostPluginReloadFailed";

// "OnJsonApiEvent" and the URI's non-empty segments joined with "_", keeping at
// most 4 entries (6 when the first segment is "tav-platform-config"):
// "/tav-login/v1/session" gives "OnJsonApiEvent_tav-login_v1_session".
[[nodiscard]] std::string EventNameForResource(std::string_view uri);

// "OnLcdsEvent_" and the class name with every "." written "_".
[[nodiscard]] std::string EventNameForLcdsType(std::string_view typeName);

}  // namespace Tesk::DevHost
