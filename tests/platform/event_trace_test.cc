// The stand-in trace service of Linux builds, driven as a provider and as a session.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/event_trace.h"
#include "platform/trace_session.h"

namespace Tesk::Platform {
namespace {

constexpr TraceGuid kProvider{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr TraceGuid kOtherProvider{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr uint64_t kAllKeywords = ~uint64_t{0};

struct Notification {
  uint32_t code;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
  bool operator==(const Notification&) const = default;
};

// A provider that records its enable callbacks; it may write one event on enable.
struct TestProvider {
  uint64_t handle = 0;
  std::vector<Notification> notifications;
  bool writeOnEnable = false;
};

void KTX_TRACE_CALL RecordNotification(const TraceGuid* source, uint32_t code, uint8_t level,
                                       uint64_t matchAny, uint64_t matchAll, void*, void* context) {
  ASSERT_NE(source, nullptr);
  auto* provider = static_cast<TestProvider*>(context);
  provider->notifications.push_back({code, level, matchAny, matchAll});
  if (provider->writeOnEnable && code == kTraceControlEnable) {
    const TraceEventDescriptor descriptor{};
    EXPECT_EQ(LoadEventTraceFunctions().writeEvent(provider->handle, &descriptor, 0, nullptr), 0u);
  }
}

class StandInTraceService : public ::testing::Test {
 protected:
  void TearDown() override {
    for (TestProvider* provider : {&first_, &second_}) {
      if (provider->handle != 0) (void)system_.unregisterProvider(provider->handle);
    }
    TraceSession::Reset();
  }

  void Register(TestProvider& provider, const TraceGuid& guid = kProvider) {
    ASSERT_EQ(system_.registerProvider(&guid, RecordNotification, &provider, &provider.handle), 0u);
    ASSERT_NE(provider.handle, 0u);
  }

  const EventTraceFunctions& system_ = LoadEventTraceFunctions();
  TestProvider first_;
  TestProvider second_;
};

TEST_F(StandInTraceService, IsTheOneTheTestProgramExports) {
  // Test programs export it, so a plug-in loaded into them reaches this same service.
  EXPECT_EQ(&ProcessTraceService(), ktx_trace_service());
  EXPECT_NE(system_.registerProvider, nullptr);
  EXPECT_NE(system_.writeEvent, nullptr);
  EXPECT_NE(system_.unregisterProvider, nullptr);
}

TEST_F(StandInTraceService, ASessionEnabledBeforeRegistrationIsAnnouncedDuringIt) {
  TraceSession::EnableProvider(kProvider, 4, 0x6, 0x2);
  Register(first_);
  EXPECT_EQ(first_.notifications, (std::vector<Notification>{{kTraceControlEnable, 4, 0x6, 0x2}}));
  EXPECT_TRUE(TraceSession::IsProviderRegistered(kProvider));
  EXPECT_FALSE(TraceSession::IsProviderRegistered(kOtherProvider));
}

TEST_F(StandInTraceService, EnablingReachesEveryRegistrationOfTheGuidOnly) {
  Register(first_);
  Register(second_);
  TestProvider other;
  Register(other, kOtherProvider);
  EXPECT_TRUE(first_.notifications.empty());

  TraceSession::EnableProvider(kProvider, 5, 0x1, 0);
  // Enabling again replaces the level and keywords; no keyword means every keyword.
  TraceSession::EnableProvider(kProvider, 0, 0, 0);
  const std::vector<Notification> expected{{kTraceControlEnable, 5, 0x1, 0},
                                           {kTraceControlEnable, 0, kAllKeywords, 0}};
  EXPECT_EQ(first_.notifications, expected);
  EXPECT_EQ(second_.notifications, expected);
  EXPECT_TRUE(other.notifications.empty());
  (void)system_.unregisterProvider(other.handle);
}

TEST_F(StandInTraceService, DisablingEndsTheSession) {
  Register(first_);
  TraceSession::EnableProvider(kProvider, 3, 0x4, 0);
  TraceSession::DisableProvider(kProvider);
  TraceSession::DisableProvider(kProvider);  // no session left: nothing to tell
  EXPECT_EQ(first_.notifications, (std::vector<Notification>{{kTraceControlEnable, 3, 0x4, 0},
                                                             {kTraceControlDisable, 0, 0, 0}}));
  // A provider registering after the session ended hears nothing.
  Register(second_);
  EXPECT_TRUE(second_.notifications.empty());
}

TEST_F(StandInTraceService, AnUnregisteredProviderHearsNothingMore) {
  Register(first_);
  ASSERT_EQ(system_.unregisterProvider(first_.handle), 0u);
  first_.handle = 0;
  TraceSession::EnableProvider(kProvider, 0, 0, 0);
  EXPECT_TRUE(first_.notifications.empty());
  EXPECT_FALSE(TraceSession::IsProviderRegistered(kProvider));
}

TEST_F(StandInTraceService, KeepsACopyOfEveryWrittenEvent) {
  Register(first_);
  const TraceEventDescriptor descriptor{7, 1, 2, 3, 4, 5, 0x8000000000000001};
  uint32_t number = 0x11223344;
  char text[] = "hi";
  TraceDataDescriptor data[2] = {{reinterpret_cast<uintptr_t>(&number), sizeof number, 0},
                                 {reinterpret_cast<uintptr_t>(text), sizeof text, 0}};
  // No session is needed: the service keeps what the provider wrote.
  ASSERT_EQ(system_.writeEvent(first_.handle, &descriptor, 2, data), 0u);
  std::strcpy(text, "no");  // the service holds its own copy

  const std::vector<TraceSession::WrittenEvent> events = TraceSession::TakeWrittenEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].provider, kProvider);
  EXPECT_EQ(std::memcmp(&events[0].descriptor, &descriptor, sizeof descriptor), 0);
  EXPECT_EQ(events[0].dataCount, 2u);
  EXPECT_EQ(events[0].payload, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11, 'h', 'i', 0}));
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
}

TEST_F(StandInTraceService, AnEnableCallbackMayWriteEvents) {
  first_.writeOnEnable = true;
  Register(first_);
  TraceSession::EnableProvider(kProvider, 0, 0, 0);
  EXPECT_EQ(TraceSession::TakeWrittenEvents().size(), 1u);
}

TEST_F(StandInTraceService, ResetEndsEverySessionAndForgetsEventsButKeepsRegistrations) {
  Register(first_);
  Register(second_, kOtherProvider);
  TraceSession::EnableProvider(kProvider, 1, 1, 0);
  TraceSession::EnableProvider(kOtherProvider, 2, 2, 0);
  const TraceEventDescriptor descriptor{};
  ASSERT_EQ(system_.writeEvent(first_.handle, &descriptor, 0, nullptr), 0u);

  TraceSession::Reset();
  EXPECT_EQ(first_.notifications.back(), (Notification{kTraceControlDisable, 0, 0, 0}));
  EXPECT_EQ(second_.notifications.back(), (Notification{kTraceControlDisable, 0, 0, 0}));
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
  EXPECT_TRUE(TraceSession::IsProviderRegistered(kProvider));
}

TEST_F(StandInTraceService, RefusesBadCallsWithTheSystemsStatusAndKeepsNothing) {
  Register(first_);
  const TraceEventDescriptor descriptor{};
  uint8_t byte = 0;
  TraceDataDescriptor nullPointer[1] = {{0, 1, 0}};
  TraceDataDescriptor tooLarge[2] = {{reinterpret_cast<uintptr_t>(&byte), 0xFFFFFFFF, 0},
                                     {reinterpret_cast<uintptr_t>(&byte), 2, 0}};
  uint64_t handle = 99;
  struct Case {
    const char* what;
    uint32_t status;
    uint32_t expected;
  };
  const Case cases[] = {
      {"write through an unknown handle",
       system_.writeEvent(first_.handle + 1000, &descriptor, 0, nullptr), 6},
      {"write without descriptor", system_.writeEvent(first_.handle, nullptr, 0, nullptr), 87},
      {"write of data without descriptors",
       system_.writeEvent(first_.handle, &descriptor, 1, nullptr), 87},
      {"write of data at a null address",
       system_.writeEvent(first_.handle, &descriptor, 1, nullPointer), 87},
      {"write of more than 64 KiB", system_.writeEvent(first_.handle, &descriptor, 2, tooLarge),
       534},
      {"unregister an unknown handle", system_.unregisterProvider(first_.handle + 1000), 6},
      {"register without a GUID", system_.registerProvider(nullptr, nullptr, nullptr, &handle), 87},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.status, c.expected);
  }
  EXPECT_EQ(handle, 0u);
  EXPECT_TRUE(TraceSession::TakeWrittenEvents().empty());
}

}  // namespace
}  // namespace Tesk::Platform

#endif  // _WIN32
