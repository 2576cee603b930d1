// Handing the process's log to a host and back. Each plug-in object that a
// host initialises offers a target that forwards to its host; the first one
// offered holds the log, the others stand by in the order offered, so that the
// log stays with a host as long as any offered target is left.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/log_target.h"

namespace Tesk {

// What holding the log means: the manager's filters while a host holds it,
// and the settings the holding target is configured with.
struct LogHandoverSettings {
  int32_t minimumLevel = kLogLevelOkay;
  uint64_t excludedGroups = kLogGroupXtr;
  LogTargetSettings target{};
};

// Thread-safe. Locks, in this order: the handover's own, a target's, the
// manager's; a target's Write never reaches the handover.
class LogHandover {
 public:
  LogHandover() = delete;

  // Offers `target` (not attached). When no target holds the log, it takes
  // it: the built-in console targets attached now are detached and
  // remembered with the manager's minimum level and excluded groups, the
  // manager takes `settings`' filters and the target is configured with
  // `settings.target` (and attached). Otherwise it waits its turn. Offering a
  // target twice changes nothing.
  static void Offer(LogTarget& target, const LogHandoverSettings& settings);
  // Takes `target` back; call before destroying an offered target. When it
  // held the log, the next target offered takes it over as above; when none
  // is left, the console targets remembered are attached again and the
  // manager's filters restored. A target not offered is ignored.
  static void Withdraw(LogTarget& target);
  // The target holding the log, or nullptr.
  [[nodiscard]] static LogTarget* Holder();
};

}  // namespace Tesk
