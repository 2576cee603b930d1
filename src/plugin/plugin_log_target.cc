#include "plugin/plugin_log_target.h"

namespace Tesk {

PluginLogTarget::~PluginLogTarget() { Detach(); }

bool PluginLogTarget::Write(const LogRecord& record) {
  if (core_ == nullptr || core_->log == nullptr) return false;
  core_->log(core_, record.level, record.message);
  return true;
}

}  // namespace Tesk
