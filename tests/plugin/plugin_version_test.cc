#include <gtest/gtest.h>

#include "diagnostics/log_manager.h"
#include "plugin/plugin_version.h"
#include "support/recording_log_target.h"

namespace Tesk {
namespace {

struct CompatibilityCase {
  Version host;
  bool compatible;
};

TEST(PluginApiCompatibility, SameMajorAndNoOlderMinorAndPatch) {
  const Version plugin{18, 0, 5, {}, {}};
  const CompatibilityCase cases[] = {
      {{18, 0, 5, {}, {}}, true},  {{18, 0, 9, {}, {}}, true},  {{18, 1, 0, {}, {}}, true},
      {{18, 0, 4, {}, {}}, false}, {{17, 9, 9, {}, {}}, false}, {{19, 0, 0, {}, {}}, false},
  };
  for (const CompatibilityCase& c : cases) {
    SCOPED_TRACE(c.host.ToText());
    EXPECT_EQ(IsApiCompatible(plugin, c.host), c.compatible);
  }
  EXPECT_TRUE(IsApiCompatible(PluginApiVersion(), {18, 0, 0, {}, {}}));
}

TEST(PluginVersionText, NumbersThenPrereleaseAndBuild) {
  EXPECT_EQ(PluginApiVersion().ToText(), "18.0.0");
  EXPECT_EQ((Version{1, 2, 3, "beta.1", {}}.ToText()), "1.2.3-beta.1");
  EXPECT_EQ((Version{1, 2, 3, {}, "abc"}.ToText()), "1.2.3+abc");
  EXPECT_EQ((Version{4294967295u, 0, 1, "rc", "7"}.ToText()), "4294967295.0.1-rc+7");
}

TEST(GetFullNameFromShortNameAndType, PrefixesByTypeAndLogsAnUnknownType) {
  LogManagerReference manager;
  Testing::RecordingLogTarget log;
  log.Attach();
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginType::Backend()), "ktx-be-x");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginType::Frontend()), "ktx-fe-x");
  EXPECT_TRUE(log.Messages().empty());

  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginType{"Backend", {}}), "ktx-xx-x");
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(log.Messages()[0].level, kLogLevelError);
  EXPECT_EQ(log.Messages()[0].groupMask, kLogGroupDbg);
  EXPECT_EQ(
      log.Messages()[0].text,
      "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", \"Backend:\") called "
      "with an unknown type");
}

TEST(PluginName, ForTheBackendPlugin) {
  const PluginName name = MakePluginName("tav-personalized-offers", PluginType::Backend());
  EXPECT_EQ(name.fullName, "ktx-be-tav-personalized-offers");
  EXPECT_EQ(name.shortName, "tav-personalized-offers");
  EXPECT_EQ(name.typeName, "backend");
  EXPECT_EQ(name.typeQualifier, "");
}

}  // namespace
}  // namespace Tesk
