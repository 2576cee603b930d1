#include "diagnostics/assertion_report.h"

#include "diagnostics/log_manager.h"
#include "diagnostics/log_types.h"

namespace Tesk {
namespace {

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

std::string AssertionReportText(const char* expression, const char* description, const char* file,
                                int32_t line, const char* function) {
  std::string text = "Assertion failed!\n\n";
  if (Given(file)) {
    text += "File: ";
    text += file;
    text += '\n';
  }
  if (line != 0) {
    text += "Line: ";
    text += std::to_string(line);
    text += "\n\n";
  }
  if (Given(function)) {
    text += "Function: ";
    text += function;
    text += "\n\n";
  }
  if (Given(expression)) {
    text += "Expression: ";
    text += expression;
  }
  if (Given(description)) {
    text += "\n\nDescription: ";
    text += description;
  }
  return text;
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) {
  try {
    const std::string text = AssertionReportText(expression, description, file, line, function);
    LogMessage(kLogLevelError, kLogGroupDbg, "%s", text.c_str());
  } catch (...) {
    // Out of memory for the text: report what can be reported without it.
    LogMessage(kLogLevelError, kLogGroupDbg, "%s", "Assertion failed!");
  }
}

}  // namespace Tesk
