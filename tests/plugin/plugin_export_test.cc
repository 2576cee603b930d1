// The built plug-in library as a host sees it: its export table, the load
// handshake, the fatal stop on an incompatible host, and memory accounting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "support/binary_exports.h"
#include "support/plugin_library_path.h"
#include "testing/test_host.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace Tesk::Testing {
namespace {

#if defined(_WIN32)
std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}
#endif

TEST(PluginLibrary, ExportsOnlyTheLoadFunction) {
  const BinaryInterface binary = ReadBinaryInterface(PluginLibraryPath());
  ASSERT_TRUE(binary.readable) << PluginLibraryPath();
  EXPECT_EQ(binary.exportedNames, std::vector<std::string>{"load_tav_personalized_offers"});
}

TEST(PluginLibrary, ImportsOnlySystemLibraries) {
  const BinaryInterface binary = ReadBinaryInterface(PluginLibraryPath());
  ASSERT_TRUE(binary.readable);
#if defined(_WIN32)
  const std::vector<std::string> system = {"kernel32.dll", "msvcrt.dll", "advapi32.dll",
                                           "user32.dll", "ntdll.dll"};
  EXPECT_FALSE(binary.importedLibraries.empty());
  for (const std::string& library : binary.importedLibraries) {
    const std::string name = Lowercase(library);
    const bool allowed = std::find(system.begin(), system.end(), name) != system.end() ||
                         name.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(allowed) << library;
  }
#else
  EXPECT_TRUE(binary.importedLibraries.empty());
#endif
}

struct HostVersion {
  uint32_t major, minor, patch;
};

constexpr HostVersion kCompatibleHosts[] = {{18, 0, 0}, {18, 3, 0}, {18, 0, 7}, {18, 99, 1}};

TEST(PluginLoad, CompatibleHostReadsThePluginVersionAndNames) {
  for (const HostVersion& version : kCompatibleHosts) {
    SCOPED_TRACE(std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                 std::to_string(version.patch));
    TestHost host{PluginLibraryPath()};
    ASSERT_TRUE(host.Library()->IsLoaded()) << host.Library()->Error();
    ASSERT_TRUE(host.Load(version.major, version.minor, version.patch));
    // Fields copied out of the packed record before comparing: gtest binds
    // references, which packed fields do not allow on 64-bit targets.
    const PluginLoadInfo& record = host.LoadRecord();
    const uint32_t words[] = {record.apiMajor, record.apiMinor, record.apiPatch};
    EXPECT_EQ(words[0], 18u);
    EXPECT_EQ(words[1], 0u);
    EXPECT_EQ(words[2], 0u);
    const char* shortName = record.shortName;
    ASSERT_NE(shortName, nullptr);
    EXPECT_STREQ(shortName, "tav-personalized-offers");
    PluginEntryPoints* entryPoints = record.entryPoints;
    ASSERT_NE(entryPoints, nullptr);
    EXPECT_TRUE(entryPoints->initialize && entryPoints->shutdown &&
                entryPoints->getMemoryStatistics);
    FunctionTable* functionTable = record.functionTable;
    ASSERT_NE(functionTable, nullptr);
    const uint32_t functionCount = functionTable->functionCount;
    EXPECT_EQ(functionCount, 7u);  // the feature's seven routes
    host.Shutdown();
  }
}

TEST(PluginLoad, InitializeAndShutdownThroughTheEntryPoints) {
  TestHost host{PluginLibraryPath()};
  ASSERT_TRUE(host.Load());
  EXPECT_TRUE(host.Initialize());
  host.Shutdown();
  EXPECT_FALSE(host.IsRunning());
  EXPECT_EQ(host.CountCalls(CoreFunction::Unsubscribe), host.CountCalls(CoreFunction::Subscribe));
}

constexpr HostVersion kIncompatibleHosts[] = {{17, 0, 0}, {19, 0, 0}, {17, 9, 9}};

TEST(PluginLoadDeathTest, IncompatibleHostEndsInTheFatalReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const HostVersion& version : kIncompatibleHosts) {
    SCOPED_TRACE(std::to_string(version.major) + "." + std::to_string(version.minor));
#if defined(_WIN32)
    PluginLoadInfo localRecord{};
    PluginLoadInfo* record = &localRecord;
#else
    // Shared with the child process, so the parent sees what the plug-in wrote.
    auto* record =
        static_cast<PluginLoadInfo*>(mmap(nullptr, sizeof(PluginLoadInfo), PROT_READ | PROT_WRITE,
                                          MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(record, MAP_FAILED);
    std::memset(record, 0, sizeof(PluginLoadInfo));
#endif
    record->apiMajor = version.major;
    record->apiMinor = version.minor;
    record->apiPatch = version.patch;
    EXPECT_DEATH(
        {
          LoadedLibrary library(PluginLibraryPath());
          auto load =
              reinterpret_cast<PluginLoadFunction>(library.Symbol("load_tav_personalized_offers"));
          load(record);
        },
        "Assertion failed!\n\nExpression: ALE-EECF0606");
    // Nothing written: the version words as the host set them, the rest zero.
    PluginLoadInfo expected{};
    expected.apiMajor = version.major;
    expected.apiMinor = version.minor;
    expected.apiPatch = version.patch;
    EXPECT_EQ(std::memcmp(record, &expected, sizeof expected), 0);
#if !defined(_WIN32)
    munmap(record, sizeof(PluginLoadInfo));
#endif
  }
}

TEST(PluginMemoryStatistics, CountThePluginsAllocationsAndNotTheHosts) {
  TestHost host{PluginLibraryPath()};
  ASSERT_TRUE(host.Load());
  const MemoryStatistics afterLoad = host.ReadMemoryStatistics();
  EXPECT_GT(afterLoad.allocations, 0u);
  EXPECT_GT(afterLoad.bytesAllocated, 0u);
  EXPECT_GE(afterLoad.peakLiveBytes, afterLoad.bytesAllocated - afterLoad.bytesFreed);
  EXPECT_GT(afterLoad.liveBlocksAtPeak, 0u);
  EXPECT_EQ(afterLoad.reserved, 0u);

  std::vector<char> hostMemory(1 << 20, 'x');
  auto* hostBlock = new std::string(1000, 'y');
  const MemoryStatistics afterHost = host.ReadMemoryStatistics();
  delete hostBlock;
  EXPECT_EQ(afterHost.allocations, afterLoad.allocations);
  EXPECT_EQ(afterHost.bytesAllocated, afterLoad.bytesAllocated);
  EXPECT_EQ(afterHost.frees, afterLoad.frees);

  ASSERT_TRUE(host.Initialize());
  const MemoryStatistics afterInitialize = host.ReadMemoryStatistics();
  EXPECT_GT(afterInitialize.allocations, afterLoad.allocations);
  host.Shutdown();
}

}  // namespace
}  // namespace Tesk::Testing
