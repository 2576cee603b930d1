// UTF-8 repair in every text the host writes, JSON included.
#include <gtest/gtest.h>

#include <string>

#include "encoding/json_support.h"
#include "encoding/utf8_text.h"

namespace Tesk::DevHost {
namespace {

TEST(Utf8Text, IllFormedSequencesBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"ASCII and valid sequences", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", ""},
      {"a lone continuation byte", "a\x80z", "a" + r + "z"},
      {"an overlong form, each byte", "\xC0\xAF", r + r},
      {"a surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"a truncated sequence, once", "\xE2\x82z", r + "z"},
      {"a truncated sequence at the end", "z\xF0\x9F\x98", "z" + r},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string expected = test.out.empty() ? test.in : test.out;
    EXPECT_EQ(ValidUtf8(test.in), expected);
    EXPECT_EQ(IsValidUtf8(test.in), test.out.empty());
  }
  // The JSON the host writes: strings and member names alike.
  rapidjson::Document document;
  document.SetObject();
  document.AddMember(rapidjson::Value("k\xFF", document.GetAllocator()),
                     rapidjson::Value("v\xC3", document.GetAllocator()), document.GetAllocator());
  EXPECT_EQ(WriteJson(document), "{\"k" + r + "\":\"v" + r + "\"}");
  EXPECT_EQ(JsonQuote("\xFE"), "\"" + r + "\"");
}

}  // namespace
}  // namespace Tesk::DevHost
