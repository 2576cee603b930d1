// Turning a LogRecord into one text line by a line format ("#D| #L| #G| #M"),
// the time stamps of log lines and file names, and the clock of "#H".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/log_types.h"

namespace Tesk {

// A formatted line: at most kLogLineCapacity - 1 bytes and a NUL.
inline constexpr size_t kLogLineCapacity = 4096;
using LogLineBuffer = std::array<char, kLogLineCapacity>;

// The parts of a line that do not come from the record.
struct LogLineFields {
  std::string_view executableName;  // "#E"
  uint32_t threadId = 0;            // "#T"
  float clockSeconds = 0;           // "#H"
};

// Writes `format` into `line` with each code replaced:
//   #D local time of the record   #E executable name   #G group names (";")
//   #H clock seconds "%06d.%03d"  #L level name        #M message text
//   #T thread id "%08X"           #x (any other x) x   a final lone # stays #
// Text beyond kLogLineCapacity - 2 bytes is cut. The line always ends with one
// line feed (added unless the text already ends with one) and a NUL. Returns
// the length without the NUL. Does not allocate.
size_t FormatLogLine(std::string_view format, const LogRecord& record, const LogLineFields& fields,
                     LogLineBuffer& line);

// As above with the fields of the calling process and thread; the clock is
// read only when the format uses "#H".
size_t FormatLogLine(std::string_view format, const LogRecord& record, LogLineBuffer& line);

// The record's local time as "%04d-%02d-%02dT%02d:%02d:%02d.%03d" into `out`,
// NUL-terminated and cut to fit. Returns the length written.
size_t FormatLogTime(const LogRecord& record, std::span<char> out);
// The record's local time for file names, "%04d-%02d-%02dT%02d-%02d-%02d".
size_t FormatLogFileTime(const LogRecord& record, std::span<char> out);

// The names of the set bits of `mask` from bit 0 upward, joined by ";"
// ("DBG;NET"); "???" for unregistered groups; empty for 0.
[[nodiscard]] std::string LogGroupNames(uint64_t mask);

// Seconds since the first call, from the performance counter, whose frequency is
// read once. Thread-safe.
[[nodiscard]] float HighResolutionClockSeconds();

}  // namespace Tesk
