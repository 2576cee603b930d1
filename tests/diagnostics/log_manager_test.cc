#include "diagnostics/log_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/log_handover.h"
#include "diagnostics/log_manager_table.h"
#include "diagnostics/log_target.h"
#include "platform/platform.h"
#include "support/recording_log_target.h"

namespace Tesk {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Testing::RecordingLogTarget;

// Each test starts with a manager of its own, in its default state.
class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    { LogManagerReference discardLeftover; }
    reference_.emplace();
  }
  void TearDown() override { reference_.reset(); }

  // Keeps the built-in console targets quiet for tests that watch only their own.
  static void DetachConsoles() {
    LogManager::StandardErrorSink()->Detach();
    LogManager::DebuggerConsoleSink()->Detach();
  }

 private:
  std::optional<LogManagerReference> reference_;
};

TEST_F(LogManagerTest, StartsWithTheDefaultsAndBuiltInTargets) {
  EXPECT_EQ(LogManager::MinimumLevel(), kLogLevelWarn);
  EXPECT_EQ(LogManager::ExcludedGroups(), kLogGroupXtr);
  EXPECT_FALSE(LogManager::IsSuspended());
  EXPECT_FALSE(LogManager::ReservedFlag());
  EXPECT_THAT(LogManager::ExecutableName(), ::testing::StartsWith("diagnostics_tests"));

  struct Expected {
    LogTarget* target;
    const char* name;
    const char* lineFormat;
    uint64_t include;
    uint64_t exclude;
    bool attached;
  };
  const Expected kBuiltIns[] = {
      {LogManager::StandardErrorSink(), "StdErrLogTarget", "#E(#T): #L| #M", kLogGroupDbg,
       kLogGroupGen, true},
      {LogManager::StandardOutputSink(), "StdOutLogTarget", "#M", kLogGroupGen, kLogGroupDbg,
       false},
      {LogManager::DebuggerConsoleSink(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M",
       kLogGroupDbg, 0, true},
  };
  for (const Expected& e : kBuiltIns) {
    SCOPED_TRACE(e.name);
    ASSERT_NE(e.target, nullptr);
    EXPECT_STREQ(e.target->Name(), e.name);
    EXPECT_STREQ(e.target->LineFormat(), e.lineFormat);
    EXPECT_EQ(e.target->Level(), kLogLevelWarn);
    EXPECT_EQ(e.target->IncludeMask(), e.include);
    EXPECT_EQ(e.target->ExcludeMask(), e.exclude);
    EXPECT_EQ(e.target->IsAttached(), e.attached);
    EXPECT_EQ(LogManager::FindSink(e.name), e.attached ? e.target : nullptr);
  }
  EXPECT_EQ(LogManager::FindSink("StdErrLogTarge"), nullptr);
  EXPECT_EQ(LogManager::FindSink("StdErrLogTargetX"), nullptr);
}

struct FilterCase {
  const char* what;
  int32_t level;
  uint64_t groupMask;
  bool delivered;
};

TEST_F(LogManagerTest, DropsMessagesBelowTheMinimumLevelOrInExcludedGroups) {
  DetachConsoles();
  constexpr FilterCase kCases[] = {
      {"level 0 is below the default minimum", kLogLevelOkay, kLogGroupGen, false},
      {"level 1 passes", kLogLevelWarn, kLogGroupGen, true},
      {"no group passes", kLogLevelWarn, 0, true},
      {"XTR is excluded at any level", kLogLevelAlways, kLogGroupXtr, false},
      {"sharing one bit with XTR is enough", kLogLevelAlways, kLogGroupXtr | kLogGroupDbg, false},
  };
  for (const FilterCase& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordingLogTarget target;
    target.Attach();
    LogMessage(c.level, c.groupMask, "message");
    EXPECT_EQ(target.Messages().size(), c.delivered ? 1u : 0u);
  }

  RecordingLogTarget target;
  target.Attach();
  LogManager::SetMinimumLevel(kLogLevelOkay);
  LogManager::SetExcludedGroups(kLogGroupNet);
  LogMessage(kLogLevelOkay, kLogGroupXtr, "okay now");
  LogMessage(kLogLevelAlways, kLogGroupNet, "net excluded");
  LogManager::SuspendOutput();
  LogMessage(kLogLevelAlways, 0, "suspended");
  LogManager::ResumeOutput();
  LogMessage(kLogLevelAlways, 0, "resumed");
  EXPECT_THAT(target.Texts(), ElementsAre("okay now", "resumed"));
}

struct TargetFilterCase {
  const char* what;
  int32_t targetLevel;
  uint64_t include;
  uint64_t exclude;
  int32_t level;
  uint64_t groupMask;
  bool written;
};

TEST_F(LogManagerTest, EachTargetFiltersByItsLevelAndMasks) {
  DetachConsoles();
  constexpr TargetFilterCase kCases[] = {
      {"below the target's level", 2, 0, 0, 1, kLogGroupDbg, false},
      {"at the target's level", 2, 0, 0, 2, kLogGroupDbg, true},
      {"include 0 takes every group", 1, 0, 0, 1, kLogGroupPrf, true},
      {"included group", 1, kLogGroupDbg, 0, 1, kLogGroupDbg | kLogGroupNet, true},
      {"not included", 1, kLogGroupDbg, 0, 1, kLogGroupNet, false},
      {"excluded wins over included", 1, kLogGroupDbg, kLogGroupNet, 1, kLogGroupDbg | kLogGroupNet,
       false},
      {"mask 0 passes include and exclude", 1, kLogGroupDbg, ~uint64_t{0}, 1, 0, true},
      {"mask 0 still obeys the level", 2, 0, 0, 1, 0, false},
  };
  for (const TargetFilterCase& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordingLogTarget target;
    target.Configure({.level = c.targetLevel,
                      .includeMask = c.include,
                      .excludeMask = c.exclude,
                      .lineFormat = "#M"});
    LogMessage(c.level, c.groupMask, "message");
    EXPECT_EQ(target.Messages().size(), c.written ? 1u : 0u);
  }
}

TEST_F(LogManagerTest, DefaultRoutingSendsDebugErrorsToStandardErrorOnly) {
  char thread[16];
  std::snprintf(thread, sizeof thread, "%08X", static_cast<unsigned>(Platform::CurrentThreadId()));
  const std::string prefix = std::string(LogManager::ExecutableName()) + "(" + thread + "): ";

  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  LogMessage(kLogLevelError, kLogGroupDbg, "routed %d", 7);
  LogMessage(kLogLevelError, kLogGroupGen, "general");  // stderr excludes GEN
  StdOutLogTarget* standardOutput = LogManager::StandardOutputSink();
  standardOutput->Attach();
  LogMessage(kLogLevelError, kLogGroupGen, "general %s", "again");
  LogMessage(kLogLevelError, kLogGroupDbg, "debug");  // stdout excludes DBG
  standardOutput->Flush();
  LogManager::StandardErrorSink()->Flush();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(err, prefix + " ERROR| routed 7\n" + prefix + " ERROR| debug\n");
  EXPECT_EQ(out, "general again\n");
  EXPECT_THAT(std::string(LogManager::ExecutableName()), ::testing::Not(::testing::HasSubstr("/")));
}

TEST_F(LogManagerTest, CutsLongTextsAndKeepsPercentSignsOfArguments) {
  DetachConsoles();
  RecordingLogTarget target;
  target.Attach();
  const std::string longText(5000, 'x');
  LogMessage(kLogLevelWarn, 0, "%s", longText.c_str());
  LogMessage(kLogLevelWarn, 0, "%s", "100% done %d");
  const std::vector<std::string> texts = target.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], longText.substr(0, 4095));
  EXPECT_EQ(texts[1], "100% done %d");
}

TEST_F(LogManagerTest, DispatchesInAttachOrderOncePerTarget) {
  DetachConsoles();
  RecordingLogTarget first("First");
  RecordingLogTarget second("Second");
  RecordingLogTarget alsoFirst("First");
  first.Attach();
  second.Attach();
  alsoFirst.Attach();
  first.Attach();  // already attached: stays where it is, once
  EXPECT_EQ(LogManager::FindSink("First"), &first);
  EXPECT_EQ(LogManager::FindSink("Second"), &second);

  LogMessage(kLogLevelWarn, 0, "one");
  second.Detach();
  LogMessage(kLogLevelWarn, 0, "two");
  LogManager::DetachSink(first);
  LogManager::AttachSink(first);  // now after alsoFirst
  EXPECT_EQ(LogManager::FindSink("First"), &alsoFirst);
  LogMessage(kLogLevelWarn, 0, "three");

  EXPECT_THAT(first.Texts(), ElementsAre("one", "two", "three"));
  EXPECT_THAT(second.Texts(), ElementsAre("one"));
  EXPECT_THAT(alsoFirst.Texts(), ElementsAre("one", "two", "three"));
  EXPECT_FALSE(second.IsAttached());
}

TEST_F(LogManagerTest, ConfigureAppliesSettingsAndAttaches) {
  DetachConsoles();
  RecordingLogTarget target;
  EXPECT_FALSE(target.IsAttached());
  EXPECT_STREQ(target.LineFormat(), "#D| #L| #G| #M");
  target.Configure({.level = kLogLevelError,
                    .includeMask = kLogGroupDbg | kLogGroupNet,
                    .excludeMask = kLogGroupNet,
                    .lineFormat = "#L #M"});
  EXPECT_TRUE(target.IsAttached());
  EXPECT_EQ(target.Level(), kLogLevelError);
  EXPECT_EQ(target.IncludeMask(), kLogGroupDbg);  // excluded groups leave the include mask
  EXPECT_EQ(target.ExcludeMask(), kLogGroupNet);
  EXPECT_STREQ(target.LineFormat(), "#L #M");

  target.Configure({.level = kLogLevelOkay});  // reconfiguring keeps one attachment
  LogMessage(kLogLevelWarn, 0, "once");
  EXPECT_THAT(target.Texts(), ElementsAre("once"));

  target.SetGroupMasks(kLogGroupDbg | kLogGroupGen, kLogGroupGen);
  EXPECT_EQ(target.IncludeMask(), kLogGroupDbg);
}

TEST_F(LogManagerTest, SinkTableReachesTheTarget) {
  DetachConsoles();
  RecordingLogTarget target("Tabled");
  LogSink* sink = target.Sink();
  EXPECT_EQ(LogTarget::FromSink(sink), &target);
  EXPECT_EQ(LogTarget::FromSink(nullptr), nullptr);
  EXPECT_EQ(sink->interfaceVersion(sink), 1);
  sink->setLevel(sink, kLogLevelAlways);
  EXPECT_EQ(sink->getLevel(sink), kLogLevelAlways);
  sink->setGroupMasks(sink, kLogGroupDbg | kLogGroupMem, kLogGroupMem);
  EXPECT_EQ(sink->getIncludeMask(sink), kLogGroupDbg);
  EXPECT_EQ(sink->getExcludeMask(sink), kLogGroupMem);
  EXPECT_STREQ(sink->name(sink), "Tabled");
  EXPECT_STREQ(sink->lineFormat(sink), "#D| #L| #G| #M");
  sink->attach(sink);
  EXPECT_TRUE(sink->isAttached(sink));
  LogMessage(kLogLevelAlways, kLogGroupDbg, "through the table");
  sink->detach(sink);
  EXPECT_FALSE(sink->isAttached(sink));
  const LogRecord record{2024, 1, 2, 3, 4, 5, 6, kLogLevelError, 0, "direct"};
  EXPECT_TRUE(sink->write(sink, &record));
  EXPECT_THAT(target.Texts(), ElementsAre("through the table", "direct"));
}

void LogThroughTable(const LogManagerTable& table, int32_t level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  table.logMessageV(level, kLogGroupDbg, format, arguments);
  va_end(arguments);
}

// Another module holds only the table's address.
TEST_F(LogManagerTest, FunctionTableReachesTheManager) {
  DetachConsoles();
  const LogManagerTable& table = *GetLogManagerTable();
  ASSERT_EQ(table.interfaceVersion(), 1);
  table.acquireReference();
  EXPECT_EQ(LogManager::ReferenceCount(), 2);
  table.releaseReference();
  EXPECT_EQ(LogManager::ReferenceCount(), 1);

  RecordingLogTarget target("Tabled");
  table.attachSink(target.Sink());
  EXPECT_EQ(table.findSink("Tabled"), target.Sink());
  EXPECT_EQ(table.findSink(nullptr), nullptr);
  table.setMinimumLevel(kLogLevelError);
  EXPECT_EQ(table.getMinimumLevel(), kLogLevelError);
  LogThroughTable(table, kLogLevelWarn, "below the minimum");
  LogThroughTable(table, kLogLevelError, "error %d", 7);
  table.suspendOutput();
  LogThroughTable(table, kLogLevelAlways, "while suspended");
  table.resumeOutput();
  table.setExcludedGroups(kLogGroupDbg);
  EXPECT_EQ(table.getExcludedGroups(), kLogGroupDbg);
  LogThroughTable(table, kLogLevelAlways, "excluded group");
  table.setExcludedGroups(kLogGroupXtr);
  table.setReservedFlag();
  EXPECT_TRUE(LogManager::ReservedFlag());
  table.clearReservedFlag();
  EXPECT_FALSE(LogManager::ReservedFlag());
  table.detachSink(target.Sink());
  table.detachSink(nullptr);
  LogThroughTable(table, kLogLevelAlways, "after detach");
  EXPECT_THAT(target.Texts(), ElementsAre("error 7"));

  EXPECT_EQ(table.standardOutputSink(), LogManager::StandardOutputSink()->Sink());
  EXPECT_EQ(table.standardErrorSink(), LogManager::StandardErrorSink()->Sink());
  EXPECT_EQ(table.debuggerConsoleSink(), LogManager::DebuggerConsoleSink()->Sink());
  EXPECT_EQ(table.registerGroup("NETWORK"), kLogGroupNet);
  EXPECT_STREQ(table.levelName(kLogLevelError), " ERROR");
  EXPECT_STREQ(table.executableName(), LogManager::ExecutableName());

  LogRecord record{2017, 11, 28, 0, 27, 33, 123, kLogLevelWarn, kLogGroupDbg, "Started"};
  char text[64];
  EXPECT_EQ(table.groupNames(kLogGroupDbg | kLogGroupNet, text, sizeof text), 7u);
  EXPECT_STREQ(text, "DBG;NET");
  EXPECT_EQ(table.formatLine("#D| #L| #G| #M", &record, text, sizeof text), 46u);
  EXPECT_STREQ(text, "2017-11-28T00:27:33.123|   WARN| DBG| Started\n");
  EXPECT_EQ(table.formatTime(&record, text, sizeof text), 23u);
  EXPECT_STREQ(text, "2017-11-28T00:27:33.123");
  EXPECT_EQ(table.formatFileTime(&record, text, 11), 10u);  // cut to fit
  EXPECT_STREQ(text, "2017-11-28");
  EXPECT_EQ(table.formatFileTime(&record, text, 0), 0u);
  table.localTime(&record);
  EXPECT_GE(record.year, 2024);
  EXPECT_EQ(record.level, kLogLevelWarn);  // only the time fields change
}

// Plug-in objects offer their hosts' targets; the log stays with a host while
// any is left, then goes back to the consoles as they were.
TEST_F(LogManagerTest, HandoverPassesTheLogOnThenBackToTheConsoles) {
  RecordingLogTarget first("First");
  RecordingLogTarget second("Second");
  RecordingLogTarget third("Third");
  const LogHandoverSettings settings{kLogLevelOkay, kLogGroupXtr, {.level = kLogLevelOkay}};
  LogHandover::Offer(first, settings);
  LogHandover::Offer(second, settings);
  LogHandover::Offer(first, settings);  // once is enough
  LogHandover::Offer(third, settings);
  EXPECT_EQ(LogHandover::Holder(), &first);
  EXPECT_FALSE(LogManager::StandardErrorSink()->IsAttached());
  EXPECT_FALSE(LogManager::DebuggerConsoleSink()->IsAttached());
  EXPECT_EQ(LogManager::MinimumLevel(), kLogLevelOkay);
  LogMessage(kLogLevelOkay, kLogGroupGen, "to the first");
  LogHandover::Withdraw(third);  // standing by: nothing changes
  LogHandover::Withdraw(first);
  EXPECT_FALSE(first.IsAttached());
  LogMessage(kLogLevelOkay, kLogGroupGen, "to the second");
  LogHandover::Withdraw(second);
  LogHandover::Withdraw(second);  // no longer offered: ignored

  EXPECT_EQ(LogHandover::Holder(), nullptr);
  EXPECT_FALSE(second.IsAttached());
  EXPECT_TRUE(LogManager::StandardErrorSink()->IsAttached());
  EXPECT_TRUE(LogManager::DebuggerConsoleSink()->IsAttached());
  EXPECT_FALSE(LogManager::StandardOutputSink()->IsAttached());
  EXPECT_EQ(LogManager::MinimumLevel(), kLogLevelWarn);
  EXPECT_THAT(first.Texts(), ElementsAre("to the first"));
  EXPECT_THAT(second.Texts(), ElementsAre("to the second"));
  EXPECT_THAT(third.Texts(), IsEmpty());
}

// Logs from inside Write, which must neither deadlock nor recurse.
class EchoingLogTarget : public RecordingLogTarget {
 public:
  EchoingLogTarget() : RecordingLogTarget("Echoing") {}
  ~EchoingLogTarget() override { Detach(); }
  bool Write(const LogRecord& record) override {
    LogMessage(kLogLevelAlways, 0, "echo of %s", record.message);
    return RecordingLogTarget::Write(record);
  }
};

class ThrowingLogTarget : public LogTarget {
 public:
  ThrowingLogTarget() : LogTarget({.level = kLogLevelOkay}) {}
  ~ThrowingLogTarget() override { Detach(); }
  bool Write(const LogRecord&) override { throw std::runtime_error("broken target"); }
};

TEST_F(LogManagerTest, MisbehavingTargetsDoNotStopDispatch) {
  DetachConsoles();
  ThrowingLogTarget throwing;
  EchoingLogTarget echoing;
  RecordingLogTarget recording;
  throwing.Attach();
  echoing.Attach();
  recording.Attach();
  LogMessage(kLogLevelWarn, 0, "first");
  LogMessage(kLogLevelWarn, 0, "second");
  EXPECT_THAT(echoing.Texts(), ElementsAre("first", "second"));
  EXPECT_THAT(recording.Texts(), ElementsAre("first", "second"));
}

TEST(LogManagerLifetime, LastReleaseDetachesEverythingAndMessagesCreateANewManager) {
  { LogManagerReference discardLeftover; }
  ASSERT_FALSE(LogManager::Exists());
  ASSERT_EQ(LogManager::ReferenceCount(), 0);
  LogManager::ReleaseReference();  // unbalanced: ignored
  EXPECT_EQ(LogManager::ReferenceCount(), 0);

  RecordingLogTarget first("First");
  RecordingLogTarget second("Second");
  {
    LogManagerReference outer;
    {
      LogManagerReference inner;
      EXPECT_EQ(LogManager::ReferenceCount(), 2);
      LogManager::StandardErrorSink()->Detach();
      LogManager::SetMinimumLevel(kLogLevelAlways);
      first.Attach();
      second.Attach();
    }
    EXPECT_TRUE(LogManager::Exists());
    EXPECT_TRUE(first.IsAttached());
  }
  EXPECT_FALSE(LogManager::Exists());
  EXPECT_FALSE(first.IsAttached());
  EXPECT_FALSE(second.IsAttached());

  // A message without any reference creates a manager with the defaults.
  LogMessage(kLogLevelWarn, kLogGroupGen, "lost: nobody is attached");
  EXPECT_TRUE(LogManager::Exists());
  EXPECT_EQ(LogManager::MinimumLevel(), kLogLevelWarn);
  EXPECT_TRUE(LogManager::StandardErrorSink()->IsAttached());
  second.Attach();
  LogMessage(kLogLevelWarn, kLogGroupGen, "kept");
  EXPECT_THAT(first.Texts(), IsEmpty());
  EXPECT_THAT(second.Texts(), ElementsAre("kept"));
  { LogManagerReference release; }
  EXPECT_FALSE(LogManager::Exists());
  EXPECT_FALSE(second.IsAttached());
}

TEST(LogManagerState, ReservedFlagIsKeptButIgnored) {
  LogManagerReference reference;
  LogManager::SetReservedFlag();
  EXPECT_TRUE(LogManager::ReservedFlag());
  LogManager::ClearReservedFlag();
  EXPECT_FALSE(LogManager::ReservedFlag());
}

TEST(LogGroups, RegistrationIsIdempotentByTheFirstThreeLetters) {
  const uint64_t location = LogManager::RegisterGroup("LOC");
  EXPECT_GE(location, uint64_t{1} << 8);
  EXPECT_EQ(location & (location - 1), 0u) << "one bit";
  EXPECT_EQ(LogManager::RegisterGroup("LOC"), location);
  EXPECT_EQ(LogManager::RegisterGroup("LOCATION"), location);
  EXPECT_EQ(LogManager::RegisterGroup("DBG"), kLogGroupDbg);
  EXPECT_EQ(LogManager::RegisterGroup("NETWORK"), kLogGroupNet);
  const uint64_t shortName = LogManager::RegisterGroup("LO");
  EXPECT_NE(shortName, location);
  EXPECT_NE(shortName, 0u);

  int bit = 0;
  while ((location >> bit) != 1) ++bit;
  EXPECT_STREQ(LogManager::GroupName(bit), "LOC");
  EXPECT_STREQ(LogManager::GroupName(0), "DBG");
  EXPECT_STREQ(LogManager::GroupName(7), "TST");
  EXPECT_STREQ(LogManager::GroupName(63), "???");
  EXPECT_STREQ(LogManager::GroupName(64), "???");
  EXPECT_STREQ(LogManager::GroupName(-1), "???");
}

TEST(LogLevels, HaveSixCharacterNames) {
  EXPECT_STREQ(LogManager::LevelName(kLogLevelOkay), "  OKAY");
  EXPECT_STREQ(LogManager::LevelName(kLogLevelWarn), "  WARN");
  EXPECT_STREQ(LogManager::LevelName(kLogLevelError), " ERROR");
  EXPECT_STREQ(LogManager::LevelName(kLogLevelAlways), "ALWAYS");
  EXPECT_STREQ(LogManager::LevelName(4), "   ???");
  EXPECT_STREQ(LogManager::LevelName(-1), "   ???");
}

TEST(ExecutableNameFromPath, TakesThePartAfterTheLastSeparator) {
  struct Case {
    const char* path;
    const char* name;
  };
  constexpr Case kCases[] = {
    {"C:\\Program Files\\Host\\host.exe", "host.exe"},
    {"host.exe", "host.exe"},
    {"", ""},
    {"dir\\", ""},
#if !defined(_WIN32)
    {"/opt/host/bin/host", "host"},
    {"/opt/a\\b/host", "host"},
#endif
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExecutableNameFromPath(c.path), c.name);
  }
}

}  // namespace
}  // namespace Tesk
