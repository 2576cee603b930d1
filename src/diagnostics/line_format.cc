#include "diagnostics/line_format.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diagnostics/log_manager.h"
#include "platform/platform.h"

namespace Tesk {
namespace {

constexpr const char* kTimeFormat = "%04d-%02d-%02dT%02d:%02d:%02d.%03d";
constexpr const char* kFileTimeFormat = "%04d-%02d-%02dT%02d-%02d-%02d";
// Two bytes of a line stay free for the line feed and the NUL.
constexpr size_t kLineTextLimit = kLogLineCapacity - 2;

// Appends to a fixed buffer, silently cutting what does not fit.
class LineWriter {
 public:
  LineWriter(char* data, size_t limit) : data_(data), limit_(limit) {}

  void Append(std::string_view text) {
    const size_t room = limit_ - length_;
    const size_t count = text.size() < room ? text.size() : room;
    std::memcpy(data_ + length_, text.data(), count);
    length_ += count;
  }
  void Append(char c) { Append(std::string_view(&c, 1)); }

  void AppendFormatted(const char* format, ...) TESK_PRINTF_LIKE(2, 3) {
    char piece[64];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (written <= 0) return;
    const size_t size = static_cast<size_t>(written);
    Append(std::string_view(piece, size < sizeof piece ? size : sizeof piece - 1));
  }

  void AppendGroupNames(uint64_t mask) {
    bool first = true;
    for (int bit = 0; bit < kLogGroupCount; ++bit) {
      if ((mask & (uint64_t{1} << bit)) == 0) continue;
      if (!first) Append(';');
      first = false;
      Append(LogManager::GroupName(bit));
    }
  }

  [[nodiscard]] size_t length() const { return length_; }

 private:
  char* data_;
  size_t limit_;
  size_t length_ = 0;
};

size_t FormatTime(const char* format, const LogRecord& r, std::span<char> out) {
  if (out.empty()) return 0;
  const int written = std::snprintf(out.data(), out.size(), format, r.year, r.month, r.day, r.hour,
                                    r.minute, r.second, r.millisecond);
  if (written < 0) {
    out[0] = '\0';
    return 0;
  }
  const size_t size = static_cast<size_t>(written);
  return size < out.size() ? size : out.size() - 1;
}

// Whether the format holds the code `#code`, reading "#x" pairs as the
// formatter does.
bool UsesCode(std::string_view format, char code) {
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '#') continue;
    if (format[i + 1] == code) return true;
    ++i;
  }
  return false;
}

constinit std::atomic<int64_t> clockFrequency{0};
constexpr int64_t kClockNotStarted = INT64_MIN;
constinit std::atomic<int64_t> clockOrigin{kClockNotStarted};

}  // namespace

size_t FormatLogLine(std::string_view format, const LogRecord& record, const LogLineFields& fields,
                     LogLineBuffer& line) {
  LineWriter writer(line.data(), kLineTextLimit);
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '#' || i + 1 == format.size()) {
      writer.Append(c);
      continue;
    }
    const char code = format[++i];
    switch (code) {
      case 'D': {
        char time[48];
        writer.Append(std::string_view(time, FormatLogTime(record, time)));
        break;
      }
      case 'E':
        writer.Append(fields.executableName);
        break;
      case 'G':
        writer.AppendGroupNames(record.groupMask);
        break;
      case 'H': {
        const float seconds = fields.clockSeconds;
        const int whole = static_cast<int>(seconds);
        const int milliseconds = static_cast<int>((seconds - static_cast<float>(whole)) * 1000.0f);
        writer.AppendFormatted("%06d.%03d", whole, milliseconds);
        break;
      }
      case 'L':
        writer.Append(LogManager::LevelName(record.level));
        break;
      case 'M':
        if (record.message != nullptr) writer.Append(record.message);
        break;
      case 'T':
        writer.AppendFormatted("%08X", static_cast<unsigned>(fields.threadId));
        break;
      default:
        writer.Append(code);
        break;
    }
  }
  size_t length = writer.length();
  if (length == 0 || line[length - 1] != '\n') line[length++] = '\n';
  line[length] = '\0';
  return length;
}

size_t FormatLogLine(std::string_view format, const LogRecord& record, LogLineBuffer& line) {
  LogLineFields fields;
  fields.executableName = LogManager::ExecutableName();
  fields.threadId = Platform::CurrentThreadId();
  if (UsesCode(format, 'H')) fields.clockSeconds = HighResolutionClockSeconds();
  return FormatLogLine(format, record, fields, line);
}

size_t FormatLogTime(const LogRecord& record, std::span<char> out) {
  return FormatTime(kTimeFormat, record, out);
}

size_t FormatLogFileTime(const LogRecord& record, std::span<char> out) {
  return FormatTime(kFileTimeFormat, record, out);
}

std::string LogGroupNames(uint64_t mask) {
  std::string names;
  bool first = true;
  for (int bit = 0; bit < kLogGroupCount; ++bit) {
    if ((mask & (uint64_t{1} << bit)) == 0) continue;
    if (!first) names += ';';
    first = false;
    names += LogManager::GroupName(bit);
  }
  return names;
}

float HighResolutionClockSeconds() {
  const int64_t now = Platform::PerformanceCounter();
  int64_t frequency = clockFrequency.load(std::memory_order_relaxed);
  if (frequency == 0) {
    frequency = Platform::PerformanceFrequency();
    clockFrequency.store(frequency, std::memory_order_relaxed);
  }
  int64_t origin = kClockNotStarted;
  if (clockOrigin.compare_exchange_strong(origin, now, std::memory_order_relaxed)) origin = now;
  // A thread that read the counter just before another one started the clock.
  if (frequency <= 0 || now <= origin) return 0;
  return static_cast<float>(static_cast<double>(now - origin) / static_cast<double>(frequency));
}

}  // namespace Tesk
