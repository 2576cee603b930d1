// The version a built plug-in library shows whoever looks at the file (the
// file's properties on Windows, `readelf -n` on Linux) is the version its code
// reports to the host in the load record.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/embedded_version.h"
#include "support/plugin_library_path.h"
#include "testing/test_host.h"

namespace Tesk::Testing {
namespace {

TEST(PluginLibraryVersion, FileCarriesTheVersionTheCodeReports) {
  TestHost host{PluginLibraryPath()};
  ASSERT_TRUE(host.Load());
  // Copied out of the packed record: gtest binds references to what it prints.
  const PluginLoadInfo& record = host.LoadRecord();
  const uint32_t reported[] = {record.apiMajor, record.apiMinor, record.apiPatch};
  host.Shutdown();
  const std::string version = std::to_string(reported[0]) + "." + std::to_string(reported[1]) +
                              "." + std::to_string(reported[2]);

  const EmbeddedVersion embedded = ReadEmbeddedVersion(PluginLibraryPath());
  ASSERT_TRUE(embedded.readable) << PluginLibraryPath() << " carries no version information";
  EXPECT_EQ(embedded.version, version);
  EXPECT_EQ(embedded.name, "ktx-be-tav-personalized-offers");
#if defined(_WIN32)
  EXPECT_EQ(embedded.productVersion, version);
  const std::array<uint16_t, 4> numbers = {static_cast<uint16_t>(reported[0]),
                                           static_cast<uint16_t>(reported[1]),
                                           static_cast<uint16_t>(reported[2]), 0};
  EXPECT_EQ(embedded.fileVersionNumbers, numbers);
  EXPECT_EQ(embedded.productVersionNumbers, numbers);
  EXPECT_EQ(embedded.originalFileName, KTX_PLUGIN_FILE_NAME);
  EXPECT_EQ(embedded.productName, KTX_PLUGIN_PRODUCT_NAME);
  EXPECT_EQ(embedded.description, KTX_PLUGIN_DESCRIPTION);
#endif
}

}  // namespace
}  // namespace Tesk::Testing
