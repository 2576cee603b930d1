// A log target for tests: keeps a copy of every record it is given. It takes no
// lock of its own: the manager serialises Write calls, and a test reads the
// copies only once the logging threads are done (ThreadSanitizer then checks
// that serialisation).
#pragma once

#include <string>
#include <vector>

#include "diagnostics/log_target.h"

namespace Tesk::Testing {

struct RecordedMessage {
  int32_t level;
  uint64_t groupMask;
  std::string text;
};

class RecordingLogTarget : public LogTarget {
 public:
  // Level 0 and no group masks: records whatever the manager lets through.
  explicit RecordingLogTarget(const char* name = "RecordingLogTarget",
                              const LogTargetSettings& initial = {.level = kLogLevelOkay})
      : LogTarget(initial), name_(name) {}
  ~RecordingLogTarget() override { Detach(); }

  [[nodiscard]] const char* Name() const override { return name_; }

  bool Write(const LogRecord& record) override {
    messages_.push_back({record.level, record.groupMask, record.message});
    return true;
  }

  [[nodiscard]] const std::vector<RecordedMessage>& Messages() const { return messages_; }
  [[nodiscard]] std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const RecordedMessage& message : Messages()) texts.push_back(message.text);
    return texts;
  }

 private:
  const char* name_;
  std::vector<RecordedMessage> messages_;
};

}  // namespace Tesk::Testing
