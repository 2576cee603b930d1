// The plug-in's tracing providers: registration, the enable state sessions give
// them, and the main-thread announcement. Sessions exist only on Linux, through
// the stand-in service; on Windows only registration itself can be checked.
#include "diagnostics/trace_providers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"
#ifndef _WIN32
#include "platform/trace_session.h"
#endif

namespace Tesk {
namespace {

using Platform::TraceGuid;

constexpr TraceGuid kGuids[kTraceProviderCount] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};
constexpr int kEventCounts[kTraceProviderCount] = {1, 1, 1, 2};
constexpr int kThreadNameProvider = 1;
constexpr int kTwoEventProvider = 3;
constexpr uint64_t kAllKeywords = ~uint64_t{0};

class TraceProviders : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }

  static void Clean() {
    UnregisterTraceProviders();
#ifndef _WIN32
    Platform::TraceSession::Reset();
#endif
  }
};

TEST_F(TraceProviders, HaveTheirIdentitiesAndEventTables) {
  for (int i = 0; i < kTraceProviderCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(TraceProviderGuid(i), kGuids[i]);
    EXPECT_EQ(TraceProviderEventCount(i), kEventCounts[i]);
  }
  EXPECT_EQ(TraceProviderGuid(kTraceProviderCount), TraceGuid{});
  EXPECT_FALSE(IsTraceEventEnabled(-1, 0));
  EXPECT_FALSE(IsTraceEventEnabled(kTwoEventProvider, 2));
}

TEST_F(TraceProviders, RegistrationDoesNotFailAndUnregistrationClearsTheHandles) {
  RegisterTraceProviders();
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_TRUE(IsTraceProviderRegistered(i)) << i;
  UnregisterTraceProviders();
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_FALSE(IsTraceProviderRegistered(i)) << i;
}

TEST(TraceEventSelection, FollowsTheSessionsLevelAndKeywords) {
  struct Case {
    const char* what;
    uint8_t eventLevel;
    uint64_t eventKeyword;
    uint8_t sessionLevel;
    uint64_t matchAny;
    uint64_t matchAll;
    bool selected;
  };
  constexpr Case kCases[] = {
      {"event above the session's level", 4, 0, 3, kAllKeywords, 0, false},
      {"event at the session's level", 4, 0, 4, kAllKeywords, 0, true},
      {"event below the session's level", 4, 0, 5, kAllKeywords, 0, true},
      {"session level 0 takes every level", 255, 0, 0, kAllKeywords, 0, true},
      {"level filter applies to keyword-less events", 2, 0, 1, kAllKeywords, 0, false},
      {"no keyword passes any mask", 0, 0, 0, 0, 0x8, true},
      {"keyword outside match-any", 0, 0x1, 0, 0x2, 0, false},
      {"keyword shares a bit with match-any", 0, 0x3, 0, 0x2, 0, true},
      {"keyword lacks a match-all bit", 0, 0x3, 0, kAllKeywords, 0x5, false},
      {"keyword holds every match-all bit", 0, 0x7, 0, 0x1, 0x5, true},
      {"match-all alone does not select", 0, 0x1, 0, 0, 0x1, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(
        IsTraceEventSelected(c.eventLevel, c.eventKeyword, c.sessionLevel, c.matchAny, c.matchAll),
        c.selected);
  }
}

#ifndef _WIN32

namespace TraceSession = Platform::TraceSession;

std::vector<uint8_t> ThreadNamePayload(uint32_t threadId) {
  std::vector<uint8_t> payload{static_cast<uint8_t>(threadId), static_cast<uint8_t>(threadId >> 8),
                               static_cast<uint8_t>(threadId >> 16),
                               static_cast<uint8_t>(threadId >> 24)};
  for (char c : "Main thread") payload.push_back(static_cast<uint8_t>(c));  // with its NUL
  return payload;
}

TEST_F(TraceProviders, AnnounceTheMainThreadToASessionOfTheSecondProvider) {
  TraceSession::EnableProvider(kGuids[kThreadNameProvider], 0, 0, 0);
  RegisterTraceProviders();

  const std::vector<TraceSession::WrittenEvent> events = TraceSession::TakeWrittenEvents();
  ASSERT_EQ(events.size(), 1u);
  const TraceSession::WrittenEvent& event = events[0];
  EXPECT_EQ(event.provider, kGuids[kThreadNameProvider]);
  EXPECT_EQ(event.descriptor.id, 103);
  EXPECT_EQ(event.descriptor.version, 0);
  EXPECT_EQ(event.descriptor.channel, 0);
  EXPECT_EQ(event.descriptor.level, 0);
  EXPECT_EQ(event.descriptor.opcode, 14);
  EXPECT_EQ(event.descriptor.task, 2);
  EXPECT_EQ(event.descriptor.keyword, 1u);
  EXPECT_EQ(event.dataCount, 2u);
  EXPECT_EQ(event.payload, ThreadNamePayload(Platform::CurrentThreadId()));
}

TEST_F(TraceProviders, WriteNothingWithoutASession) {
  RegisterTraceProviders();
  for (int i = 0; i < kTraceProviderCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(TraceSession::IsProviderRegistered(kGuids[i]));
    EXPECT_FALSE(IsTraceProviderEnabled(i));
  }
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
}

TEST_F(TraceProviders, TakeTheEventsTheSessionSelects) {
  struct Case {
    const char* what;
    int provider;
    uint8_t level;
    uint64_t matchAny;
    uint64_t matchAll;
    std::vector<bool> enabled;
  };
  const Case cases[] = {
      {"match-any 2 selects the second event only", kTwoEventProvider, 0, 0x2, 0, {false, true}},
      {"match-any 1 selects the first event only", kTwoEventProvider, 0, 0x1, 0, {true, false}},
      {"no keyword selects every event", kTwoEventProvider, 0, 0, 0, {true, true}},
      {"match-all 3 selects neither", kTwoEventProvider, 0, kAllKeywords, 0x3, {false, false}},
      {"a level keeps level-0 events", kTwoEventProvider, 1, kAllKeywords, 0, {true, true}},
      {"an event without keyword is always selected", 2, 5, 0x2, 0, {true}},
      {"keyword 1 misses match-any 2", 0, 0, 0x2, 0, {false}},
  };
  RegisterTraceProviders();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TraceSession::EnableProvider(kGuids[c.provider], c.level, c.matchAny, c.matchAll);
    EXPECT_TRUE(IsTraceProviderEnabled(c.provider));
    for (int event = 0; event < static_cast<int>(c.enabled.size()); ++event) {
      EXPECT_EQ(IsTraceEventEnabled(c.provider, event), c.enabled[event]) << "event " << event;
    }
    TraceSession::Reset();
  }
  // Sessions of other providers change nothing here.
  EXPECT_FALSE(IsTraceProviderEnabled(kThreadNameProvider));
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
}

TEST_F(TraceProviders, ForgetTheSessionWhenItEnds) {
  RegisterTraceProviders();
  TraceSession::EnableProvider(kGuids[kTwoEventProvider], 0, kAllKeywords, 0);
  ASSERT_TRUE(IsTraceEventEnabled(kTwoEventProvider, 1));
  TraceSession::DisableProvider(kGuids[kTwoEventProvider]);
  EXPECT_FALSE(IsTraceProviderEnabled(kTwoEventProvider));
  EXPECT_FALSE(IsTraceEventEnabled(kTwoEventProvider, 0));
  EXPECT_FALSE(IsTraceEventEnabled(kTwoEventProvider, 1));
}

TEST_F(TraceProviders, RegisterEachProviderOnce) {
  RegisterTraceProviders();
  RegisterTraceProviders();
  UnregisterTraceProviders();
  // A second registration of any provider would outlive the unregistration.
  for (int i = 0; i < kTraceProviderCount; ++i) {
    EXPECT_FALSE(TraceSession::IsProviderRegistered(kGuids[i])) << i;
  }
}

TEST_F(TraceProviders, UnregistrationDropsTheEnableStateOfALiveSession) {
  TraceSession::EnableProvider(kGuids[kThreadNameProvider], 0, 0, 0);
  RegisterTraceProviders();
  (void)TraceSession::TakeWrittenEvents();
  UnregisterTraceProviders();
  EXPECT_FALSE(IsTraceProviderEnabled(kThreadNameProvider));
  EXPECT_FALSE(IsTraceEventEnabled(kThreadNameProvider, 0));

  // The session ends while the providers are away; registering again must not
  // announce the main thread from the stale state.
  TraceSession::DisableProvider(kGuids[kThreadNameProvider]);
  RegisterTraceProviders();
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
}

#endif  // _WIN32

}  // namespace
}  // namespace Tesk
