#include "plugin/plugin_log_target.h"

#include "diagnostics/log_handover.h"

namespace Tesk {

PluginLogTarget::~PluginLogTarget() {
  LogHandover::Withdraw(*this);
  Detach();
}

bool PluginLogTarget::Write(const LogRecord& record) {
  if (core_ == nullptr || core_->log == nullptr) return false;
  core_->log(core_, record.level, record.message);
  return true;
}

}  // namespace Tesk
