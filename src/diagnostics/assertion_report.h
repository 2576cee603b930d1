// The report of a failed assertion: one multi-line text logged at error level.
#pragma once

#include <cstdint>
#include <string>

namespace Tesk {

// The report text. Null and empty strings are alike (the part is left out);
// line 0 means no line.
[[nodiscard]] std::string AssertionReportText(const char* expression, const char* description,
                                              const char* file, int32_t line, const char* function);

// Logs the report at level 2 with group mask 1 and returns; ending the process,
// where needed, is the caller's step. Any thread.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function);

}  // namespace Tesk
