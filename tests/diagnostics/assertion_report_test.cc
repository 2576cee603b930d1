#include "diagnostics/assertion_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/log_manager.h"
#include "support/recording_log_target.h"

namespace Tesk {
namespace {

struct ReportCase {
  const char* what;
  const char* expression;
  const char* description;
  const char* file;
  int32_t line;
  const char* function;
  const char* text;
};

constexpr ReportCase kReports[] = {
    {"only an expression", "count > 0", nullptr, nullptr, 0, nullptr,
     "Assertion failed!\n\nExpression: count > 0"},
    {"file and line", "ok", nullptr, "plugin.cc", 42, nullptr,
     "Assertion failed!\n\nFile: plugin.cc\nLine: 42\n\nExpression: ok"},
    {"negative line", "", "", "", -7, "", "Assertion failed!\n\nLine: -7\n\n"},
    {"description without expression", nullptr, "bad host", nullptr, 0, nullptr,
     "Assertion failed!\n\n\n\nDescription: bad host"},
    {"everything", "ALE-EECF0606", "Incompatible host", "load.cc", 9, "Load",
     "Assertion failed!\n\nFile: load.cc\nLine: 9\n\nFunction: Load\n\n"
     "Expression: ALE-EECF0606\n\nDescription: Incompatible host"},
    {"empty strings are absent", "", "", "", 0, "", "Assertion failed!\n\n"},
    {"lowest line", nullptr, nullptr, nullptr, INT32_MIN, nullptr,
     "Assertion failed!\n\nLine: -2147483648\n\n"},
};

TEST(AssertionReportText, BuildsThePartsThatAreGiven) {
  for (const ReportCase& c : kReports) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(AssertionReportText(c.expression, c.description, c.file, c.line, c.function), c.text);
  }
}

TEST(ReportAssertion, LogsTheTextAsAnErrorOfTheDebugGroup) {
  LogManagerReference reference;
  Testing::RecordingLogTarget target;
  target.Attach();
  ::testing::internal::CaptureStderr();  // the report also reaches standard error
  ReportAssertion("ratio < 100%d", "50% of %s", nullptr, 0, nullptr);
  const std::string err = ::testing::internal::GetCapturedStderr();

  const std::vector<Testing::RecordedMessage> messages = target.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].level, kLogLevelError);
  EXPECT_EQ(messages[0].groupMask, kLogGroupDbg);
  EXPECT_EQ(messages[0].text,
            "Assertion failed!\n\nExpression: ratio < 100%d\n\nDescription: 50% of %s");
  EXPECT_THAT(err, ::testing::HasSubstr(" ERROR| Assertion failed!\n\nExpression: ratio < 100%d"));
}

}  // namespace
}  // namespace Tesk
