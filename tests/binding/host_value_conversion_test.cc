#include "binding/host_value_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding_values.h"
#include "codecs/small_stack_thread.h"
#include "diagnostics/sdk_allocator.h"
#include "testing/host_value_text.h"

namespace Tesk {
namespace {

using namespace Testing;

enum class Color : int32_t { Red = 0, Green = 1 };

uint64_t LiveBlocks() {
  const Memory::AllocationCounters counters = Memory::ReadAllocationCounters();
  return counters.allocations - counters.frees;
}

HostValue ZeroHostValue() {
  HostValue value;
  std::memset(&value, 0, sizeof(value));
  return value;
}

class HostValueConversion : public ::testing::Test {
 protected:
  HostValueConversion() {
    auto color = registry_.BeginType<Color>("Color");
    color.Enumerator("Red", Color::Red);
    color.Enumerator("Green", Color::Green);
  }
  BindingRegistry registry_;
};

TEST_F(HostValueConversion, ToHostValueOwnsEveryPart) {
  struct Case {
    const char* what;
    BindingProperty value;
    HostValueTag tag;
    const char* text;
  };
  const TypeKey* color = &TypeKeyOf<Color>();
  const Case cases[] = {
      {"empty", Empty(), HostValueTag::Empty, "null"},
      {"bool", Bool(true), HostValueTag::Bool, "true"},
      {"signed", Signed(-3), HostValueTag::Signed, "-3"},
      {"unsigned", Unsigned(UINT64_MAX), HostValueTag::Unsigned, "18446744073709551615"},
      {"float", Float(1.5), HostValueTag::Float, "1.5"},
      {"string", Text("hi"), HostValueTag::OwnedString, "\"hi\""},
      {"empty string", Text(""), HostValueTag::OwnedString, "\"\""},
      {"blob", Blob({1, 0xAB}), HostValueTag::OwnedBlob, "blob:01ab"},
      {"empty blob", Blob({}), HostValueTag::OwnedBlob, "blob:"},
      {"named enum value", Enum(1, color), HostValueTag::OwnedString, "\"Green\""},
      {"enum value without a name", Enum(5, color), HostValueTag::Signed, "5"},
      {"enum value without a type", Enum(1), HostValueTag::Signed, "1"},
      {"collection", Collection({Signed(1), Empty(), Collection({})}), HostValueTag::Collection,
       "[1,null,[]]"},
      {"structure", Structure({{"b", Text("x")}, {"a", Structure({{"c", Bool(false)}})}}),
       HostValueTag::Structure, "{\"a\":{\"c\":false},\"b\":\"x\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t before = LiveBlocks();
    HostValue host = ToHostValue(c.value, &registry_);
    EXPECT_EQ(host.tag, static_cast<uint32_t>(c.tag));
    EXPECT_EQ(HostValueText(host), c.text);
    Tesk::ReleaseHostValue(host);
    EXPECT_EQ(host.tag, 0u);
    EXPECT_EQ(LiveBlocks(), before) << "everything owned is released";
  }
}

TEST_F(HostValueConversion, OwnedStringsCarryTheirLengthAndMembersTheirOwnedNames) {
  HostValue host = ToHostValue(Structure({{"name", Text("abc")}}), &registry_);
  ASSERT_EQ(host.structure.count, 1u);
  const HostValueMember& member = host.structure.members[0];
  EXPECT_STREQ(member.name, "name");
  EXPECT_EQ(member.nameOwned, 1);
  EXPECT_EQ(member.value.string.length, 3u);
  Tesk::ReleaseHostValue(host);
}

TEST_F(HostValueConversion, FromHostValueReadsEveryTag) {
  struct Case {
    const char* what;
    TestValue host;
    BindingProperty expected;
  };
  const Case cases[] = {
      {"empty", TestValue(), Empty()},
      {"bool", TestValue::Bool(true), Bool(true)},
      {"signed", TestValue::Signed(INT64_MIN), Signed(INT64_MIN)},
      {"unsigned", TestValue::Unsigned(7), Unsigned(7)},
      {"float", TestValue::Float(0.25), Float(0.25)},
      {"string", TestValue::String("text"), Text("text")},
      {"blob", TestValue::Blob(std::string("\x01\x00\x02", 3)), Blob({1, 0, 2})},
      {"collection",
       TestValue::Collection({TestValue::Signed(1), TestValue(), TestValue::Collection({})}),
       Collection({Signed(1), Empty(), Collection({})})},
      {"structure",
       TestValue::Structure({{"z", TestValue::String("last")}, {"a", TestValue::Structure({})}}),
       Structure({{"z", Text("last")}, {"a", Structure({})}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostValue host = c.host.ToHostValue();
    const Tesk::HostValueConversion converted = FromHostValue(host, "value", nullptr);
    EXPECT_TRUE(converted.ok);
    EXPECT_EQ(converted.value, c.expected);
    Testing::ReleaseHostValue(host);
  }
}

TEST_F(HostValueConversion, FromHostValueReadsBorrowedTextsUpToTheirNul) {
  HostValue text = ZeroHostValue();
  text.tag = static_cast<uint32_t>(HostValueTag::String);
  text.string.text = "borrowed\0tail";
  text.string.length = 99;  // not used
  EXPECT_EQ(FromHostValue(text, "value", nullptr).value, Text("borrowed"));

  static const uint8_t bytes[] = {9, 8};
  HostValue blob = ZeroHostValue();
  blob.tag = static_cast<uint32_t>(HostValueTag::Blob);
  blob.blob.bytes = bytes;
  blob.blob.length = 2;
  EXPECT_EQ(FromHostValue(blob, "value", nullptr).value, Blob({9, 8}));
}

TEST_F(HostValueConversion, RoundTripKeepsTheValue) {
  const BindingProperty value =
      Structure({{"list", Collection({Float(-0.5), Text("t"), Blob({3}), Empty()})},
                 {"n", Unsigned(1)},
                 {"nested", Structure({{"flag", Bool(false)}, {"s", Signed(-9)}})}});
  HostValue host = ToHostValue(value, nullptr);
  const Tesk::HostValueConversion back = FromHostValue(host, "value", nullptr);
  EXPECT_TRUE(back.ok);
  EXPECT_EQ(back.value, value);
  Tesk::ReleaseHostValue(host);
}

TEST_F(HostValueConversion, UnlistedTagFailsIntoTheHostResult) {
  // A collection whose second element has an unknown tag.
  HostValue items[2];
  items[0] = ZeroHostValue();
  items[0].tag = static_cast<uint32_t>(HostValueTag::Signed);
  items[0].signedValue = 1;
  items[1] = ZeroHostValue();
  items[1].tag = 11;
  HostValue host = ZeroHostValue();
  host.tag = static_cast<uint32_t>(HostValueTag::Collection);
  host.collection.items = items;
  host.collection.count = 2;

  ResponseRecord response;
  std::memset(&response, 0, sizeof(response));
  response.result = ToHostValue(Text("earlier result"), nullptr);
  response.errorText = Memory::DuplicateString("earlier error");
  const Tesk::HostValueConversion converted = FromHostValue(host, "body", &response);
  EXPECT_FALSE(converted.ok);
  EXPECT_EQ(response.result.tag, 0u);
  EXPECT_EQ(response.failed, 1);
  ASSERT_NE(response.errorText, nullptr);
  EXPECT_STREQ(response.errorText,
               "Couldn't assign value to 'body' of type object because the input is of an "
               "incompatible type ''.");
  Memory::Free(response.errorText);

  EXPECT_FALSE(FromHostValue(items[1], "body", nullptr).ok);
}

TEST_F(HostValueConversion, RepeatedMemberTakesItsLastValue) {
  struct Case {
    const char* what;
    TestValue first;
    TestValue last;
    BindingProperty expected;
  };
  const Case cases[] = {
      {"lists", TestValue::Collection({TestValue::Signed(1), TestValue::Signed(2)}),
       TestValue::Collection({TestValue::Signed(3)}), Collection({Signed(3)})},
      {"structures", TestValue::Structure({{"x", TestValue::Signed(1)}}),
       TestValue::Structure({{"y", TestValue::Signed(2)}}), Structure({{"y", Signed(2)}})},
      {"scalars", TestValue::Signed(1), TestValue::String("two"), Text("two")},
      {"a list, then empty", TestValue::Collection({TestValue::Signed(1)}), TestValue(), Empty()},
      {"a structure, then a list", TestValue::Structure({{"x", TestValue::Signed(1)}}),
       TestValue::Collection({}), Collection({})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostValue host =
        TestValue::Structure({{"a", c.first}, {"b", TestValue::Bool(true)}, {"a", c.last}})
            .ToHostValue();
    const Tesk::HostValueConversion converted = FromHostValue(host, "value", nullptr);
    Testing::ReleaseHostValue(host);
    ASSERT_TRUE(converted.ok);
    EXPECT_EQ(converted.value, Structure({{"a", c.expected}, {"b", Bool(true)}}));
  }
}

TEST_F(HostValueConversion, ManyMembersInDescendingOrderWithARepeat) {
  std::vector<std::pair<std::string, TestValue>> members;
  BindingProperty expected;
  char name[16];
  for (int i = 20000; i > 0; --i) {
    std::snprintf(name, sizeof name, "k%05d", i);
    members.emplace_back(name, TestValue::Signed(i));
  }
  members.emplace_back("k10000", TestValue::String("again"));
  for (int i = 1; i <= 20000; ++i) {
    std::snprintf(name, sizeof name, "k%05d", i);
    expected.MemberRef(name) = i == 10000 ? Text("again") : Signed(i);
  }
  HostValue host = TestValue::Structure(std::move(members)).ToHostValue();
  const Tesk::HostValueConversion converted = FromHostValue(host, "value", nullptr);
  Testing::ReleaseHostValue(host);
  ASSERT_TRUE(converted.ok);
  EXPECT_TRUE(converted.value == expected);
}

// Nested collections or structures, `levels` deep, around a scalar.
class HostChain {
 public:
  HostChain(size_t levels, bool structures) : values_(levels + 1), members_(levels) {
    // Level i is values_[i] for collections; a structure's member holds the
    // next level by value, so structures chain through members_.
    for (size_t i = 0; i <= levels; ++i) {
      HostValue& value = structures && i > 0 ? members_[i - 1].value : values_[i];
      value = ZeroHostValue();
      if (i == levels) {
        value.tag = static_cast<uint32_t>(HostValueTag::Signed);
      } else if (structures) {
        value.tag = static_cast<uint32_t>(HostValueTag::Structure);
        members_[i].name = "m";
        value.structure.members = &members_[i];
        value.structure.count = 1;
      } else {
        value.tag = static_cast<uint32_t>(HostValueTag::Collection);
        value.collection.items = &values_[i + 1];
        value.collection.count = 1;
      }
    }
  }
  [[nodiscard]] const HostValue& Root() const { return values_[0]; }

 private:
  std::vector<HostValue> values_;
  std::vector<HostValueMember> members_;
};

TEST_F(HostValueConversion, NestingDeeperThanTheLimitFailsWithoutExhaustingTheStack) {
  const bool ran = Testing::RunOnSmallStack(Testing::kHostThreadStack, [] {
    for (const bool structures : {false, true}) {
      SCOPED_TRACE(structures ? "structures" : "collections");
      EXPECT_TRUE(FromHostValue(HostChain(kMaxHostValueDepth, structures).Root(), "v", nullptr).ok);
      for (const size_t levels : {size_t{kMaxHostValueDepth} + 1, size_t{100000}}) {
        SCOPED_TRACE(levels);
        ResponseRecord response;
        std::memset(&response, 0, sizeof(response));
        const Tesk::HostValueConversion converted =
            FromHostValue(HostChain(levels, structures).Root(), "payload", &response);
        EXPECT_FALSE(converted.ok);
        EXPECT_TRUE(converted.value.IsEmpty());
        ASSERT_NE(response.errorText, nullptr);
        EXPECT_STREQ(response.errorText,
                     "Couldn't assign value to 'payload' because the input is nested deeper "
                     "than 512 levels.");
        Memory::Free(response.errorText);
      }
    }
  });
  EXPECT_TRUE(ran);
}

TEST(HostValueTagName, PrintedNames) {
  EXPECT_STREQ(HostValueTagName(5), "string");
  EXPECT_STREQ(HostValueTagName(6), "string");
  EXPECT_STREQ(HostValueTagName(8), "blob");
  EXPECT_STREQ(HostValueTagName(10), "structure");
  EXPECT_STREQ(HostValueTagName(0), "");
  EXPECT_STREQ(HostValueTagName(11), "");
}

}  // namespace
}  // namespace Tesk
