// The plug-in library's tracing providers as a trace session sees them: they
// exist while the library is loaded and announce the loading thread.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/trace_session.h"
#include "support/plugin_library_path.h"
#include "testing/loaded_library.h"

namespace Tesk::Testing {
namespace {

namespace Session = Platform::TraceSession;

// The provider that announces thread names, {EA08C559-95A8-4AA2-AFA6-18738EEC6D37}.
constexpr Platform::TraceGuid kThreadNameProvider = {
    0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}};

bool SameGuid(const Platform::TraceGuid& a, const Platform::TraceGuid& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class PluginTracing : public ::testing::Test {
 protected:
  void SetUp() override { Session::Reset(); }
  void TearDown() override { Session::Reset(); }
};

TEST_F(PluginTracing, EnabledSessionSeesTheMainThreadAtLoad) {
  Session::EnableProvider(kThreadNameProvider, 0, 0, 0);
  {
    LoadedLibrary library(PluginLibraryPath());
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    EXPECT_TRUE(Session::IsProviderRegistered(kThreadNameProvider));
    const std::vector<Session::WrittenEvent> events = Session::TakeWrittenEvents();
    ASSERT_EQ(events.size(), 1u);
    const Session::WrittenEvent& event = events[0];
    EXPECT_TRUE(SameGuid(event.provider, kThreadNameProvider));
    EXPECT_EQ(event.descriptor.id, 103);
    EXPECT_EQ(event.descriptor.opcode, 14);
    EXPECT_EQ(event.descriptor.task, 2);
    EXPECT_EQ(event.descriptor.keyword, 1u);

    std::vector<uint8_t> expected(4);
    const uint32_t thread = Platform::CurrentThreadId();
    std::memcpy(expected.data(), &thread, 4);
    const char name[] = "Main thread";
    expected.insert(expected.end(), name, name + sizeof name);
    EXPECT_EQ(event.payload, expected);
  }
  EXPECT_FALSE(Session::IsProviderRegistered(kThreadNameProvider));
}

TEST_F(PluginTracing, WithoutASessionLoadingWritesNothing) {
  LoadedLibrary library(PluginLibraryPath());
  ASSERT_TRUE(library.IsLoaded()) << library.Error();
  EXPECT_TRUE(Session::IsProviderRegistered(kThreadNameProvider));
  EXPECT_TRUE(Session::TakeWrittenEvents().empty());
}

}  // namespace
}  // namespace Tesk::Testing

#endif  // !_WIN32
