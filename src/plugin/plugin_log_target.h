// PluginLogTarget: the log target that forwards each message, unformatted, to
// the host through CoreInterface function 9. Offered to LogHandover by the
// plug-in object; withdrawn when destroyed.
#pragma once

#include "diagnostics/log_target.h"
#include "host-abi/core_interface.h"

namespace Tesk {

class PluginLogTarget final : public LogTarget {
 public:
  // `core` must outlive the target (the host keeps it until Shutdown returns).
  explicit PluginLogTarget(CoreInterface* core) : core_(core) {}
  ~PluginLogTarget() override;

  [[nodiscard]] const char* Name() const override { return "PluginLogTarget"; }
  bool Write(const LogRecord& record) override;

 private:
  CoreInterface* core_;
};

}  // namespace Tesk
