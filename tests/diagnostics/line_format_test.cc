#include "diagnostics/line_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diagnostics/log_manager.h"
#include "platform/platform.h"

namespace Tesk {
namespace {

LogRecord Record(int32_t level, uint64_t groupMask, const char* message) {
  return {2017, 11, 28, 0, 27, 33, 123, level, groupMask, message};
}

std::string Format(std::string_view format, const LogRecord& record, const LogLineFields& fields) {
  LogLineBuffer line;
  const size_t length = FormatLogLine(format, record, fields, line);
  EXPECT_EQ(line[length], '\0');
  return std::string(line.data(), length);
}

struct LineCase {
  const char* what;
  const char* format;
  int32_t level;
  uint64_t groupMask;
  const char* message;
  float clockSeconds;
  const char* expected;
};

constexpr LineCase kLines[] = {
    {"console line", "#E(#T): #L| #M", 1, kLogGroupDbg, "Started", 0,
     "host.exe(00001A2C):   WARN| Started\n"},
    {"default target line", "#D| #L| #G| #M", 1, kLogGroupDbg, "Started", 0,
     "2017-11-28T00:27:33.123|   WARN| DBG| Started\n"},
    {"doubled hash", "##M", 1, 0, "x", 0, "#M\n"},
    {"other codes are literal", "#x#%#|", 1, 0, "", 0, "x%|\n"},
    {"lone final hash", "a#", 1, 0, "", 0, "a#\n"},
    {"no groups", "[#G]", 1, 0, "", 0, "[]\n"},
    {"several groups", "#G", 1, kLogGroupDbg | kLogGroupNet | kLogGroupTst, "", 0, "DBG;NET;TST\n"},
    {"level names", "#L/", 3, 0, "", 0, "ALWAYS/\n"},
    {"clock", "#H", 1, 0, "", 12.25f, "000012.250\n"},
    {"message already ends the line", "#M", 2, 0, "done\n", 0, "done\n"},
    {"empty format", "", 2, 0, "ignored", 0, "\n"},
};

TEST(FormatLogLine, ReplacesEachCode) {
  const LogLineFields fields{"host.exe", 0x1A2C, 0};
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.what);
    LogLineFields caseFields = fields;
    caseFields.clockSeconds = c.clockSeconds;
    EXPECT_EQ(Format(c.format, Record(c.level, c.groupMask, c.message), caseFields), c.expected);
  }
}

TEST(FormatLogLine, CutsLongLinesAndKeepsOneLineFeed) {
  const std::string message(5000, 'm');
  const LogLineFields fields{"host.exe", 1, 0};
  const std::string line = Format("#M", Record(1, 0, message.c_str()), fields);
  ASSERT_EQ(line.size(), kLogLineCapacity - 1);
  EXPECT_EQ(line.substr(0, kLogLineCapacity - 2), message.substr(0, kLogLineCapacity - 2));
  EXPECT_EQ(line.back(), '\n');

  // A text that ends in a line feed exactly at the limit gets no second one.
  std::string exact(kLogLineCapacity - 3, 'e');
  exact += '\n';
  EXPECT_EQ(Format("#M", Record(1, 0, exact.c_str()), fields), exact);
}

TEST(FormatLogLine, FillsProcessFieldsFromTheCallingThread) {
  LogManagerReference reference;  // the manager reads the executable name
  char thread[16];
  std::snprintf(thread, sizeof thread, "%08X", static_cast<unsigned>(Platform::CurrentThreadId()));
  LogLineBuffer line;
  const size_t length = FormatLogLine("#E|#T|#H", Record(1, 0, ""), line);
  const std::string text(line.data(), length);
  EXPECT_THAT(text,
              testing::StartsWith(std::string(LogManager::ExecutableName()) + "|" + thread + "|"));
  ASSERT_GE(text.size(), 11u);
  const std::string clock = text.substr(text.size() - 11);  // "%06d.%03d" and the line feed
  EXPECT_EQ(clock.find_first_not_of("0123456789"), 6u) << clock;
  EXPECT_EQ(clock.substr(6, 1), ".");
  EXPECT_EQ(clock.find_first_not_of("0123456789", 7), 10u) << clock;
  EXPECT_THAT(LogManager::ExecutableName(), testing::StartsWith("diagnostics_tests"));
}

TEST(HighResolutionClockSeconds, StartsAtZeroAndAdvances) {
  const float first = HighResolutionClockSeconds();
  EXPECT_GE(first, 0.0f);
  EXPECT_LT(first, 3600.0f);
  EXPECT_GE(HighResolutionClockSeconds(), first);
}

TEST(FormatLogTime, WritesBothTimeFormsAndCutsToTheBuffer) {
  const LogRecord record = Record(1, 0, "");
  char text[32];
  EXPECT_EQ(FormatLogTime(record, text), 23u);
  EXPECT_STREQ(text, "2017-11-28T00:27:33.123");
  EXPECT_EQ(FormatLogFileTime(record, text), 19u);
  EXPECT_STREQ(text, "2017-11-28T00-27-33");
  char small[11];
  EXPECT_EQ(FormatLogTime(record, small), 10u);
  EXPECT_STREQ(small, "2017-11-28");
}

TEST(LogGroupNames, JoinsSetBitsFromTheLowest) {
  EXPECT_EQ(LogGroupNames(0), "");
  EXPECT_EQ(LogGroupNames(kLogGroupTst | kLogGroupDbg | kLogGroupXtr), "DBG;XTR;TST");
  EXPECT_EQ(LogGroupNames(kLogGroupGen | (uint64_t{1} << 63)), "GEN;???");
}

}  // namespace
}  // namespace Tesk
